#pragma once

#include "ini.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVariant>

#include <array>

namespace tinsoke {

// Every stored setting. Each belongs to one control of the window, except the
// window's position and size.
enum class Setting {
    FormTop,
    FormLeft,
    FormWidth,
    FormHeight,
    SaveMode,
    Jobs,
    JpegtranUse,
    JpegtranPath,
    JpegtranOptimize,
    JpegtranProgressive,
    JpegtranGrayscale,
    JpegtranTrim,
    JpegtranCopyMode,
    JpegtranModifyMode,
    JpegoptimUse,
    JpegoptimPath,
    JpegoptimStrip,
    JpegoptimStripMode,
    AdvPNGUse,
    AdvPNGPath,
    AdvPNGParam,
    AdvPNGUseParam,
    AdvPNGCompressLevel,
    OptiPNGUse,
    OptiPNGPath,
    OptiPNGParam,
    OptiPNGUseParam,
    OptiPNGOptimizeLevel,
    PNGCrushUse,
    PNGCrushPath,
    PNGCrushUseParam,
    PNGCrushParam,
    PNGOUTUse,
    PNGOUTPath,
    PNGOUTParam,
    PNGOUTUseParam,
    PNGRewriteUse,
    PNGRewritePath,
    cPNGCUse,
    cPNGCPath,
};
constexpr int SettingCount = static_cast<int>(Setting::cPNGCPath) + 1;

enum class ValueKind { Text, Integer, YesNo };

struct SettingKey {
    Setting setting;
    const char16_t *readSection;
    const char16_t *writeSection; // the same section, spelt as a new header gets it
    const char16_t *key;
    ValueKind kind;
};

// All keys in the order they are read.
const std::array<SettingKey, SettingCount> &settingKeys();
const SettingKey &settingKey(Setting setting);

// The values of all settings: QString for text, int for integers, bool for yes/no.
using SettingValues = std::array<QVariant, SettingCount>;

inline QVariant &valueOf(SettingValues &values, Setting s)
{
    return values[static_cast<std::size_t>(s)];
}
inline const QVariant &valueOf(const SettingValues &values, Setting s)
{
    return values[static_cast<std::size_t>(s)];
}

// Reads every key; a missing one reads as empty text, 0 or yes.
SettingValues readSettings(const IniDocument &document);

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
