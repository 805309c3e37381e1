#pragma once

#include "ini.h"
#include "settingkeys.h"
#include "tools.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace tinsoke {

// A stored setting: the program's own, then every tool's keys in tool order,
// numbered on from FirstToolKey in the order of their sections (see toolSetting).
enum class Setting {
    FormTop,
    FormLeft,
    FormWidth,
    FormHeight,
    SaveMode,
    Jobs,
    Originals,
    FirstToolKey
};

// What an overwrite does with the original: nothing (a file written before
// the choice was there), or a copy into the user's Trash first.
enum class Originals { Keep, Trash };

// A key as the whole file numbers it.
struct SettingKey {
    Setting setting;
    const char16_t *readSection; // its section as the default text spells it
    const char16_t *key;
    ValueKind kind;
    const KeySpec *spec;
};

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

// The setting of a key of the tool's section, if it has that key; the
// tick that uses the tool and the path of its program.
std::optional<Setting> toolSetting(Tool tool, QStringView key);
Setting toolUseSetting(Tool tool);
Setting toolPathSetting(Tool tool);
// The tool's own keys' values, as its option builder reads them.
ToolSettings toolSettings(const SettingValues &values, Tool tool);

// What reading found that a save of ours never writes, to be told.
struct SettingNote {
    enum class Kind {
        Missing,   // the key is not there: it keeps its designed default
        NotYesNo,  // a word other than 1, Y, YES, ON, 0, N, NO, OFF (the empty one too)
        NotNumber, // not an optional sign and ASCII digits
        NotChoice  // none of a choice's words
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
