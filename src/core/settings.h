#pragma once

#include "ini.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QVariant>

#include <array>

namespace tinsoke {

// Every stored setting. Each belongs to one control of the window, except the
// window position.
enum class Setting {
    FormTop,
    FormLeft,
    SaveMode,
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

} // namespace tinsoke
