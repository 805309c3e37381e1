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

} // namespace tinsoke
