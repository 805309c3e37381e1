#include "commandsplit.h"

namespace tinsoke {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList splitArguments(const QString &text)
{
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text.at(i);
        if (isBlank(c) && !quoted) {
            if (inArgument)
                args.append(current);
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            qsizetype run = 0;
            while (i < n && text.at(i) == u'\\') {
                ++run;
                ++i;
            }
            if (i < n && text.at(i) == u'"') {
                current += QString(run / 2, u'\\');
                if (run % 2 == 1) { // an escaped quote is part of the text
                    current += u'"';
                    ++i;
                }
            } else {
                current += QString(run, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (quoted && i + 1 < n && text.at(i + 1) == u'"') {
                current += u'"'; // "" inside quotes stands for one quote
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument)
        args.append(current);
    return args;
}

SplitCommandLine splitCommandLine(const QString &line,
                                  const std::function<bool(const QString &)> &isFile)
{
    qsizetype start = 0;
    while (start < line.size() && isBlank(line.at(start)))
        ++start;
    const QString text = line.mid(start);

    SplitCommandLine result;
    if (text.startsWith(u'"')) {
        const qsizetype close = text.indexOf(u'"', 1);
        result.program = text.mid(1, close < 0 ? -1 : close - 1);
        result.arguments = close < 0 ? QStringList() : splitArguments(text.mid(close + 1));
        return result;
    }

    // Try "a", then "a b", then "a b c" … until one names a file.
    qsizetype firstEnd = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isBlank(text.at(i)))
            continue;
        if (i == 0 || isBlank(text.at(i - 1)))
            continue; // not the end of a word
        if (firstEnd < 0)
            firstEnd = i;
        if (isFile(text.left(i))) {
            result.program = text.left(i);
            result.arguments = splitArguments(text.mid(i));
            return result;
        }
    }
    if (firstEnd < 0)
        return result; // an empty line names no program
    result.program = text.left(firstEnd);
    result.arguments = splitArguments(text.mid(firstEnd));
    return result;
}

} // namespace tinsoke
