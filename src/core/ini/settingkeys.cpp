#include "settingkeys.h"

#include "ini.h"
#include "text.h"

namespace tinsoke {

qsizetype SectionSpec::indexOf(QStringView key) const
{
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (QStringView(keys.at(i).key) == key)
            return i;
    }
    return -1;
}

QStringList KeySpec::choiceWords() const
{
    return choices ? QString::fromUtf16(choices).split(u'|') : QStringList();
}

const SectionSpec &extraToolSection()
{
    using K = ValueKind;
    static const SectionSpec Section{u"ExtraTool",
                                     u"ExtraTool",
                                     {// Only a plain yes runs it: a tool no one ticked stays off.
                                      {u"Use", K::YesNo, "No", true},
                                      {u"Name", K::Text, ""},
                                      {u"Kind", K::Text, ""},
                                      {u"Path", K::Text, ""},
                                      {u"Args", K::Text, ""}}};
    return Section;
}

namespace {

// The text without the ASCII blanks (spaces, tabs, line ends) around it.
QStringView trimmedOfBlanks(QStringView text)
{
    const auto blank = [](QChar c) {
        return c == u' ' || (c >= u'\t' && c <= u'\r');
    };
    while (!text.isEmpty() && blank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

} // namespace

// Compared in ASCII, as iniBool reads them: a word that only looks like one
// (other spaces around it, letters that merely fold to these) cannot be read.
bool isYesNoWord(const QString &text)
{
    static const QStringList Words{
        QStringLiteral("1"), QStringLiteral("Y"), QStringLiteral("YES"), QStringLiteral("ON"),
        QStringLiteral("0"), QStringLiteral("N"), QStringLiteral("NO"),  QStringLiteral("OFF")};
    return Words.contains(foldAsciiLetters(trimmedOfBlanks(text).toString()));
}

bool yesNoValue(const QString &text, const KeySpec &key)
{
    return !isYesNoWord(text) && key.destructive ? false : iniBool(text);
}

} // namespace tinsoke
