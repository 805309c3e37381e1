#pragma once

#include "ini.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QVariant>

namespace tinsoke {

enum class ValueKind { Text, Integer, YesNo };

// A stored setting: the program's own, then every tool's keys in tool order,
// numbered on from FirstToolKey (the tool table gives them; see toolSetting).
enum class Setting { FormTop, FormLeft, FormWidth, FormHeight, SaveMode, Jobs, FirstToolKey };

// One key of a settings section, as a table describes it.
struct KeySpec {
    const char16_t *key;
    ValueKind kind;
    const char *defaultValue;      // its value in the default text
    const char *control = nullptr; // the objectName of the window's control that holds it
    // A yes, or a number other than 0, changes pixels, removes data or runs
    // a tool no one ticked: a yes/no that cannot be read then reads as no.
    bool destructive = false;
    int unreadable = 0; // what a number that cannot be read becomes
    // A switch that goes off with this number when it cannot be read.
    const char16_t *offWhenUnreadable = nullptr;
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
};

// A key as the whole file numbers it.
struct SettingKey {
    Setting setting;
    const char16_t *readSection; // its section as the default text spells it
    const char16_t *key;
    ValueKind kind;
    const KeySpec *spec;
};

// The keys of each section of the user's own tools, [ExtraTool1],
// [ExtraTool2] …, in the order a save writes them; their sections are
// numbered, so extratools reads and writes them.
enum class ExtraToolKey { Use, Name, Kind, Path, Args };
const SectionSpec &extraToolSection();

// A yes/no key's value from the text the file holds for it: 1, Y, YES, ON
// yes, 0, N, NO, OFF no; any other word yes, but no for a destructive key.
bool yesNoValue(const QString &text, const KeySpec &key);

// All keys in the order they are read.
const QList<SettingKey> &settingKeys();
const SettingKey &settingKey(Setting setting);

// The values of all settings: QString for text, int for integers, bool for
// yes/no; every one empty until given.
class SettingValues {
public:
    SettingValues();
    QVariant &operator[](Setting s) { return m_values[static_cast<qsizetype>(s)]; }
    const QVariant &operator[](Setting s) const { return m_values[static_cast<qsizetype>(s)]; }

private:
    QList<QVariant> m_values;
};

inline QVariant &valueOf(SettingValues &values, Setting s)
{
    return values[s];
}
inline const QVariant &valueOf(const SettingValues &values, Setting s)
{
    return values[s];
}

// What reading found that a save of ours never writes, to be told.
struct SettingNote {
    enum class Kind {
        Missing,  // the key is not there: it keeps its designed default
        NotYesNo, // a word other than 1, Y, YES, ON, 0, N, NO, OFF (the empty one too)
        NotNumber // not an optional sign and ASCII digits
    };
    Setting setting;
    Kind kind;
    QString text; // the value as it stands in the file
};

// Reads every key; a missing one reads as empty text, 0 or yes. A word that
// is no yes/no reads as yes, except for a destructive option, where it reads
// as no; an unreadable number reads as 0, except for the destructive choices
// (no marker dropped, no transform, no stripping) and the save method, which
// gets the designed choice, a copy beside the file. With notes given, each
// such value is added to it.
SettingValues readSettings(const IniDocument &document, QList<SettingNote> *notes = nullptr);

// "[Section] Key" for messages.
QString settingName(Setting setting);
// The value a setting has, as told to the user: はい, いいえ, a number or a text.
QString settingValueText(const SettingValues &values, Setting setting);
// One message for a note, saying what the value became.
QString settingNoteText(const SettingNote &note, const SettingValues &values);

// Writes every key in the saving order: keys new to the file come out in
// that order at the end of their section, new sections at the end of the file.
void writeSettings(IniDocument &document, const SettingValues &values);

// The text a missing settings file is created with.
QByteArray defaultSettingsText();

// Where the window goes for a stored position: an edge outside the work area
// (before its start or past its far edge) puts the window at 0 on that axis.
QPoint windowPositionFor(int storedLeft, int storedTop, const QRect &workArea);

// The window's size for a stored one: never smaller than the designed size
// (a missing size reads as 0 and gives it), and otherwise no larger than the
// work area.
QSize windowSizeFor(int storedWidth, int storedHeight, const QSize &designed,
                    const QRect &workArea);

} // namespace tinsoke
