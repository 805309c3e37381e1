#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace tinsoke {

// Choice: one of a few words, held as its place among them (the first for
// a missing key).
enum class ValueKind { Text, Integer, YesNo, Choice };

// One key of a settings section, as a table describes it.
struct KeySpec {
    const char16_t *key;
    ValueKind kind;
    const char *defaultValue; // its value in the default text
    // A yes, or a number other than 0, changes pixels, removes data or runs
    // a tool no one ticked: a yes/no that cannot be read then reads as no.
    bool destructive = false;
    int unreadable = 0; // what a number that cannot be read becomes
    // A switch that goes off with this number when it cannot be read.
    const char16_t *offWhenUnreadable = nullptr;
    // A choice's words, parted by "|", in the order of their places.
    const char16_t *choices = nullptr;

    QStringList choiceWords() const;
};

// A section of the settings file and its keys in the order they are read.
struct SectionSpec {
    const char16_t *section;    // as the default text spells it; read in any letter case
    const char16_t *newSection; // as a save spells it when the file lacks it
    QList<KeySpec> keys;
    // The keys' names in the order a save writes them, and in the order the
    // default text has them, where those differ from the reading order.
    QList<QStringView> writeOrder = {};
    QList<QStringView> defaultOrder = {};

    // The place of a key among keys, or -1.
    qsizetype indexOf(QStringView key) const;
};

// The keys of each section of the user's own tools, [ExtraTool1],
// [ExtraTool2] …, in the order a save writes them; their sections are
// numbered, so extratools reads and writes them.
enum class ExtraToolKey { Use, Name, Kind, Path, Args };
const SectionSpec &extraToolSection();

// Whether the text is one of the yes/no words, compared in ASCII: 1, Y, YES,
// ON, 0, N, NO, OFF, with ordinary blanks around it.
bool isYesNoWord(const QString &text);

// A yes/no key's value from the text the file holds for it: 1, Y, YES, ON
// yes, 0, N, NO, OFF no; any other word yes, but no for a destructive key.
bool yesNoValue(const QString &text, const KeySpec &key);

} // namespace tinsoke
