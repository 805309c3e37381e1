#include "settings.h"

#include <algorithm>

namespace tinsoke {

namespace {

using S = Setting;
using K = ValueKind;

// The order in which a save writes the keys.
constexpr std::array<Setting, SettingCount> WriteOrder{
    S::SaveMode,
    S::Jobs,
    S::FormTop,
    S::FormLeft,
    S::FormWidth,
    S::FormHeight,
    S::JpegtranUse,
    S::JpegtranPath,
    S::JpegtranOptimize,
    S::JpegtranProgressive,
    S::JpegtranGrayscale,
    S::JpegtranTrim,
    S::JpegtranCopyMode,
    S::JpegtranModifyMode,
    S::JpegoptimUse,
    S::JpegoptimPath,
    S::JpegoptimStrip,
    S::JpegoptimStripMode,
    S::AdvPNGUse,
    S::AdvPNGPath,
    S::AdvPNGUseParam,
    S::AdvPNGParam,
    S::AdvPNGCompressLevel,
    S::OptiPNGUse,
    S::OptiPNGPath,
    S::OptiPNGUseParam,
    S::OptiPNGParam,
    S::OptiPNGOptimizeLevel,
    S::PNGCrushUse,
    S::PNGCrushPath,
    S::PNGCrushUseParam,
    S::PNGCrushParam,
    S::PNGOUTUse,
    S::PNGOUTPath,
    S::PNGOUTUseParam,
    S::PNGOUTParam,
    S::PNGRewriteUse,
    S::PNGRewritePath,
    S::cPNGCUse,
    S::cPNGCPath,
};

} // namespace

const std::array<SettingKey, SettingCount> &settingKeys()
{
    static const std::array<SettingKey, SettingCount> Keys{{
        {S::FormTop, u"Form", u"Form", u"Top", K::Integer},
        {S::FormLeft, u"Form", u"Form", u"Left", K::Integer},
        {S::FormWidth, u"Form", u"Form", u"Width", K::Integer},
        {S::FormHeight, u"Form", u"Form", u"Height", K::Integer},
        {S::SaveMode, u"Option", u"Option", u"SaveMode", K::Integer},
        {S::Jobs, u"Option", u"Option", u"Jobs", K::Integer},
        {S::JpegtranUse, u"Jpegtran", u"Jpegtran", u"Use", K::YesNo},
        {S::JpegtranPath, u"Jpegtran", u"Jpegtran", u"Path", K::Text},
        {S::JpegtranOptimize, u"Jpegtran", u"Jpegtran", u"Optimize", K::YesNo},
        {S::JpegtranProgressive, u"Jpegtran", u"Jpegtran", u"Progressive", K::YesNo},
        {S::JpegtranGrayscale, u"Jpegtran", u"Jpegtran", u"Grayscale", K::YesNo},
        {S::JpegtranTrim, u"Jpegtran", u"Jpegtran", u"Trim", K::YesNo},
        {S::JpegtranCopyMode, u"Jpegtran", u"Jpegtran", u"CopyMode", K::Integer},
        {S::JpegtranModifyMode, u"Jpegtran", u"Jpegtran", u"ModifyMode", K::Integer},
        {S::JpegoptimUse, u"Jpegoptim", u"Jpegoptim", u"Use", K::YesNo},
        {S::JpegoptimPath, u"Jpegoptim", u"Jpegoptim", u"Path", K::Text},
        {S::JpegoptimStrip, u"Jpegoptim", u"Jpegoptim", u"Strip", K::YesNo},
        {S::JpegoptimStripMode, u"Jpegoptim", u"Jpegoptim", u"StripMode", K::Integer},
        {S::AdvPNGUse, u"AdvPNG", u"AdvPNG", u"Use", K::YesNo},
        {S::AdvPNGPath, u"AdvPNG", u"AdvPNG", u"Path", K::Text},
        {S::AdvPNGParam, u"AdvPNG", u"AdvPNG", u"Param", K::Text},
        {S::AdvPNGUseParam, u"AdvPNG", u"AdvPNG", u"UseParam", K::YesNo},
        {S::AdvPNGCompressLevel, u"AdvPNG", u"AdvPNG", u"CompressLevel", K::Integer},
        {S::OptiPNGUse, u"OptiPNG", u"OptiPNG", u"Use", K::YesNo},
        {S::OptiPNGPath, u"OptiPNG", u"OptiPNG", u"Path", K::Text},
        {S::OptiPNGParam, u"OptiPNG", u"OptiPNG", u"Param", K::Text},
        {S::OptiPNGUseParam, u"OptiPNG", u"OptiPNG", u"UseParam", K::YesNo},
        {S::OptiPNGOptimizeLevel, u"OptiPNG", u"OptiPNG", u"OptimizeLevel", K::Integer},
        {S::PNGCrushUse, u"PNGCrush", u"PNGCrush", u"Use", K::YesNo},
        {S::PNGCrushPath, u"PNGCrush", u"PNGCrush", u"Path", K::Text},
        {S::PNGCrushUseParam, u"PNGCrush", u"PNGCrush", u"UseParam", K::YesNo},
        {S::PNGCrushParam, u"PNGCrush", u"PNGCrush", u"Param", K::Text},
        {S::PNGOUTUse, u"PNGOut", u"PNGOUT", u"Use", K::YesNo},
        {S::PNGOUTPath, u"PNGOut", u"PNGOUT", u"Path", K::Text},
        {S::PNGOUTParam, u"PNGOut", u"PNGOUT", u"Param", K::Text},
        {S::PNGOUTUseParam, u"PNGOut", u"PNGOUT", u"UseParam", K::YesNo},
        {S::PNGRewriteUse, u"PNGRewrite", u"PNGRewrite", u"Use", K::YesNo},
        {S::PNGRewritePath, u"PNGRewrite", u"PNGRewrite", u"Path", K::Text},
        {S::cPNGCUse, u"cPNGC", u"cPNGC", u"Use", K::YesNo},
        {S::cPNGCPath, u"cPNGC", u"cPNGC", u"Path", K::Text},
    }};
    return Keys;
}

const SettingKey &settingKey(Setting setting)
{
    return settingKeys().at(static_cast<std::size_t>(setting));
}

SettingValues readSettings(const IniDocument &document)
{
    SettingValues values;
    for (const SettingKey &k : settingKeys()) {
        const QString text =
            document.value(QString::fromUtf16(k.readSection), QString::fromUtf16(k.key))
                .value_or(QString());
        switch (k.kind) {
        case ValueKind::Text:
            valueOf(values, k.setting) = text;
            break;
        case ValueKind::Integer:
            valueOf(values, k.setting) = iniInteger(text);
            break;
        case ValueKind::YesNo:
            valueOf(values, k.setting) = iniBool(text);
            break;
        }
    }
    return values;
}

void writeSettings(IniDocument &document, const SettingValues &values)
{
    for (const Setting s : WriteOrder) {
        const SettingKey &k = settingKey(s);
        const QVariant &v = valueOf(values, s);
        const QString text = k.kind == ValueKind::Text      ? v.toString()
                             : k.kind == ValueKind::Integer ? iniText(v.toInt())
                                                            : iniText(v.toBool());
        document.setValue(QString::fromUtf16(k.writeSection), QString::fromUtf16(k.key), text);
    }
}

QByteArray defaultSettingsText()
{
    static const char *const Lines[] = {
        "[Set]",
        "FittingThreshold =10",
        "",
        "[Option]",
        "SaveMode =0",
        "Jobs =0",
        "",
        "[Form]",
        "Top =0",
        "Left =0",
        "Width =632",
        "Height =453",
        "",
        "[Jpegtran]",
        "Use =No",
        "Path =",
        "Optimize =No",
        "Progressive =No",
        "Grayscale =No",
        "Trim =No",
        "CopyMode =0",
        "ModifyMode =0",
        "",
        "[Jpegoptim]",
        "Use =No",
        "Path =",
        "Strip =No",
        "StripMode =0",
        "",
        "[AdvPNG]",
        "Use =No",
        "Path =",
        "CompressLevel =2",
        "UseParam =No",
        "Param =",
        "",
        "[OptiPNG]",
        "Use =No",
        "Path =",
        "OptimizeLevel =2",
        "UseParam =No",
        "Param =",
        "",
        "[PNGCrush]",
        "Use =No",
        "Path =",
        "UseParam =No",
        "Param =",
        "",
        "[PNGOut]",
        "Use =No",
        "Path =",
        "UseParam =No",
        "Param =",
        "",
        "[PNGRewrite]",
        "Use =No",
        "Path =",
        "",
        "[cPNGC]",
        "Use =No",
        "Path =",
    };
    QByteArray text;
    for (const char *line : Lines)
        text += QByteArray(line) + "\r\n";
    return text;
}

QPoint windowPositionFor(int storedLeft, int storedTop, const QRect &workArea)
{
    // The far edges lie just past the last pixel, as work-area edges are counted.
    const int right = workArea.x() + workArea.width();
    const int bottom = workArea.y() + workArea.height();
    const int top = storedTop < 0 || storedTop > bottom ? 0 : storedTop;
    const int left = storedLeft < 0 || storedLeft > right ? 0 : storedLeft;
    return {left, top};
}

QSize windowSizeFor(int storedWidth, int storedHeight, const QSize &designed, const QRect &workArea)
{
    return {std::max(designed.width(), std::min(storedWidth, workArea.width())),
            std::max(designed.height(), std::min(storedHeight, workArea.height()))};
}

} // namespace tinsoke
