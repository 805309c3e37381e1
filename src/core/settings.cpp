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

bool isDestructiveSetting(Setting setting)
{
    switch (setting) {
    case S::JpegtranGrayscale:
    case S::JpegtranTrim:
    case S::JpegtranCopyMode:
    case S::JpegtranModifyMode:
    case S::JpegoptimStrip:
    case S::JpegoptimStripMode:
        return true;
    default:
        return false;
    }
}

namespace {

bool isYesNoWord(const QString &text)
{
    static const QStringList Words{
        QStringLiteral("1"), QStringLiteral("Y"), QStringLiteral("YES"), QStringLiteral("ON"),
        QStringLiteral("0"), QStringLiteral("N"), QStringLiteral("NO"),  QStringLiteral("OFF")};
    return Words.contains(text.trimmed(), Qt::CaseInsensitive);
}

bool isNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = t.startsWith(u'-') || t.startsWith(u'+') ? 1 : 0;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t.at(i) < u'0' || t.at(i) > u'9')
            return false;
    }
    return true;
}

// What an unreadable number becomes: the harmless choice where there is one.
QVariant unreadableNumber(Setting s)
{
    switch (s) {
    case S::SaveMode:
        return 1; // the designed choice: a copy beside the file, the original untouched
    case S::JpegtranCopyMode:
        return 2; // every marker copied
    default:
        return 0; // no transform; for the rest, the design's reading
    }
}

} // namespace

SettingValues readSettings(const IniDocument &document, QList<SettingNote> *notes)
{
    SettingValues values;
    bool stripUnreadable = false;
    for (const SettingKey &k : settingKeys()) {
        const std::optional<QString> found =
            document.value(QString::fromUtf16(k.readSection), QString::fromUtf16(k.key));
        const QString text = found.value_or(QString());
        std::optional<SettingNote::Kind> note;
        if (!found)
            note = SettingNote::Kind::Missing;
        switch (k.kind) {
        case ValueKind::Text:
            valueOf(values, k.setting) = text;
            break;
        case ValueKind::Integer:
            valueOf(values, k.setting) = iniInteger(text);
            if (found && !isNumber(text)) {
                note = SettingNote::Kind::NotNumber;
                valueOf(values, k.setting) = unreadableNumber(k.setting);
                stripUnreadable = stripUnreadable || k.setting == S::JpegoptimStripMode;
            }
            break;
        case ValueKind::YesNo:
            valueOf(values, k.setting) = iniBool(text);
            if (found && !isYesNoWord(text)) {
                note = SettingNote::Kind::NotYesNo;
                if (isDestructiveSetting(k.setting))
                    valueOf(values, k.setting) = false;
            }
            break;
        }
        if (note && notes)
            notes->append({k.setting, *note, text});
    }
    // Which markers to strip cannot be read: nothing is stripped.
    if (stripUnreadable)
        valueOf(values, S::JpegoptimStrip) = false;
    return values;
}

QString settingName(Setting setting)
{
    const SettingKey &k = settingKey(setting);
    return QStringLiteral("[%1] %2").arg(QString::fromUtf16(k.readSection),
                                         QString::fromUtf16(k.key));
}

QString settingValueText(const SettingValues &values, Setting setting)
{
    const QVariant &v = valueOf(values, setting);
    switch (settingKey(setting).kind) {
    case ValueKind::YesNo:
        return v.toBool() ? QStringLiteral("はい") : QStringLiteral("いいえ");
    case ValueKind::Integer:
        return QString::number(v.toInt());
    case ValueKind::Text:
        break;
    }
    return v.toString().isEmpty() ? QStringLiteral("空") : v.toString();
}

QString settingNoteText(const SettingNote &note, const SettingValues &values)
{
    const QString name = settingName(note.setting);
    const QString became = settingValueText(values, note.setting);
    switch (note.kind) {
    case SettingNote::Kind::Missing:
        return QStringLiteral("設定ファイルに %1 がありません。「%2」として扱います。")
            .arg(name, became);
    case SettingNote::Kind::NotYesNo:
        return QStringLiteral("設定ファイルの %1 の値「%2」は Yes／No として読めません。"
                              "「%3」として扱います。")
            .arg(name, note.text, became);
    case SettingNote::Kind::NotNumber:
        break;
    }
    return QStringLiteral(
               "設定ファイルの %1 の値「%2」は数値として読めません。「%3」として扱います。")
        .arg(name, note.text, became);
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
