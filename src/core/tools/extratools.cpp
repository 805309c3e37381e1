#include "extratools.h"

#include "settingkeys.h"

namespace tinsoke {

namespace {

QString sectionName(int number)
{
    return QString::fromUtf16(extraToolSection().section) + QString::number(number);
}

const KeySpec &keySpec(ExtraToolKey key)
{
    return extraToolSection().keys.at(static_cast<qsizetype>(key));
}

QString keyName(ExtraToolKey key)
{
    return QString::fromUtf16(keySpec(key).key);
}

QString kindText(ImageKind kind)
{
    return kind == ImageKind::Jpeg ? QStringLiteral("JPEG") : QStringLiteral("PNG");
}

// A text as the settings file keeps it: one that a reader would trim or
// take out of its quotes goes in quotes of its own.
QString storedText(const QString &text)
{
    const bool quoted = text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
                        text.back() == text.front();
    return quoted || text != text.trimmed() ? u'"' + text + u'"' : text;
}

bool isBlankChar(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

} // namespace

bool splitShellWords(const QString &line, QStringList *words, QString *error)
{
    words->clear();
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (isBlankChar(c)) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            if (++i < line.size())
                word += line.at(i);
        } else if (c == u'\'') {
            const qsizetype close = line.indexOf(u'\'', i + 1);
            if (close < 0) {
                if (error)
                    *error = QStringLiteral("引用符 ' が閉じていません");
                return false;
            }
            word += line.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i >= line.size()) {
                    if (error)
                        *error = QStringLiteral("引用符 \" が閉じていません");
                    return false;
                }
                const QChar d = line.at(i);
                if (d == u'"')
                    break;
                if (d == u'\\' && i + 1 < line.size() &&
                    QStringView(u"\"\\$`").contains(line.at(i + 1)))
                    word += line.at(++i);
                else
                    word += d;
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words->append(word);
    return true;
}

QStringList extraToolArguments(const QStringList &words, const QString &input,
                               const QString &output)
{
    QStringList argv;
    argv.reserve(words.size());
    for (QString word : words) {
        // One pass, so that a path holding "{out}" is never replaced again.
        QString done;
        for (qsizetype i = 0; i < word.size();) {
            if (word.mid(i, 4) == u"{in}") {
                done += input;
                i += 4;
            } else if (word.mid(i, 5) == u"{out}") {
                done += output;
                i += 5;
            } else {
                done += word.at(i++);
            }
        }
        argv.append(done);
    }
    return argv;
}

bool writesSecondFile(const QStringList &words)
{
    for (const QString &word : words)
        if (word.contains(u"{out}"))
            return true;
    return false;
}

QString extraToolProblem(const ExtraTool &tool)
{
    if (tool.name.trimmed().isEmpty())
        return QStringLiteral("名前がありません");
    if (tool.path.trimmed().isEmpty())
        return QStringLiteral("プログラムが指定されていません");
    QStringList words;
    QString error;
    if (!splitShellWords(tool.args, &words, &error))
        return QStringLiteral("引数を分けられません（%1）").arg(error);
    bool hasIn = false;
    for (const QString &word : std::as_const(words))
        hasIn = hasIn || word.contains(u"{in}");
    if (!hasIn)
        return QStringLiteral("引数に {in} がありません");
    return QString();
}

QList<ExtraTool> readExtraTools(const IniDocument &document, QStringList *notes)
{
    QList<ExtraTool> tools;
    for (int n = 1;; ++n) {
        const QString section = sectionName(n);
        const auto value = [&](ExtraToolKey key) {
            return document.value(section, keyName(key));
        };
        const auto name = value(ExtraToolKey::Name);
        const auto path = value(ExtraToolKey::Path);
        const auto args = value(ExtraToolKey::Args);
        const auto use = value(ExtraToolKey::Use);
        const auto kind = value(ExtraToolKey::Kind);
        if (!name && !path && !args && !use && !kind)
            break;
        ExtraTool tool;
        tool.name = name.value_or(QString());
        tool.path = path.value_or(QString());
        tool.args = args.value_or(QString());
        tool.use = yesNoValue(use.value_or(QString()), keySpec(ExtraToolKey::Use));
        const QString kindWord = kind.value_or(QString()).trimmed().toUpper();
        tool.kind = kindWord == u"JPEG" || kindWord == u"JPG" ? ImageKind::Jpeg : ImageKind::Png;
        QString problem = extraToolProblem(tool);
        if (problem.isEmpty() && kindWord != u"PNG" && kindWord != u"JPEG" && kindWord != u"JPG")
            problem = QStringLiteral("Kind は PNG か JPEG です");
        if (!problem.isEmpty()) {
            if (notes && tool.use)
                notes->append(QStringLiteral("設定ファイルの [%1] は使えません（%2）。")
                                  .arg(section, problem));
            tool.use = false;
        }
        tools.append(tool);
    }
    return tools;
}

void writeExtraTools(IniDocument &document, const QList<ExtraTool> &tools)
{
    for (int i = 0; i < tools.size(); ++i) {
        const ExtraTool &t = tools.at(i);
        const QString section = sectionName(i + 1);
        document.setValue(section, keyName(ExtraToolKey::Use), iniText(t.use));
        document.setValue(section, keyName(ExtraToolKey::Name), storedText(t.name));
        document.setValue(section, keyName(ExtraToolKey::Kind), kindText(t.kind));
        document.setValue(section, keyName(ExtraToolKey::Path), storedText(t.path));
        document.setValue(section, keyName(ExtraToolKey::Args), storedText(t.args));
    }
    const auto has = [&document](int n, ExtraToolKey key) {
        return document.value(sectionName(n), keyName(key)).has_value();
    };
    for (int n = int(tools.size()) + 1;
         has(n, ExtraToolKey::Name) || has(n, ExtraToolKey::Path) || has(n, ExtraToolKey::Use); ++n)
        document.removeSection(sectionName(n));
}

QList<ExtraTool> extraToolPresets(const std::function<QString(const QString &)> &findProgram)
{
    struct Preset {
        const char16_t *name;
        ImageKind kind;
        const char16_t *program;
        const char16_t *args;
    };
    // Each keeps every chunk or marker: the check would refuse what it dropped
    // only to put it back.
    static const Preset Presets[] = {
        {u"zopflipng", ImageKind::Png, u"zopflipng",
         u"-y --keepchunks=tEXt,zTXt,iTXt,eXIf,pHYs,tIME,sBIT,bKGD,iCCP,sRGB,gAMA,cHRM,cICP {in} "
         u"{out}"},
        {u"oxipng", ImageKind::Png, u"oxipng", u"-o 2 --strip none --out {out} {in}"},
        {u"ect", ImageKind::Png, u"ect", u"-3 --strict -keep {in}"},
        {u"jpegtran（プログレッシブ）", ImageKind::Jpeg, u"jpegtran",
         u"-copy all -optimize -progressive -outfile {out} {in}"},
    };
    QList<ExtraTool> found;
    for (const Preset &p : Presets) {
        const QString path = findProgram(QString::fromUtf16(p.program));
        if (!path.isEmpty())
            found.append(
                {true, QString::fromUtf16(p.name), p.kind, path, QString::fromUtf16(p.args)});
    }
    return found;
}

} // namespace tinsoke
