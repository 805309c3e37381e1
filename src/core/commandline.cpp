#include "commandline.h"

#include <array>

namespace tinsoke {

namespace {

QString at(const std::array<const char16_t *, 8> &table, int index)
{
    return index >= 0 && index < static_cast<int>(table.size()) &&
                   table.at(static_cast<std::size_t>(index))
               ? QString::fromUtf16(table.at(static_cast<std::size_t>(index)))
               : QString();
}

} // namespace

namespace {

using S = Setting;

bool yes(const SettingValues &v, Setting s)
{
    return valueOf(v, s).toBool();
}
int number(const SettingValues &v, Setting s)
{
    return valueOf(v, s).toInt();
}
QString text(const SettingValues &v, Setting s)
{
    return valueOf(v, s).toString();
}

QString jpegtranFromSettings(const SettingValues &v)
{
    return jpegtranOptions({yes(v, S::JpegtranOptimize), yes(v, S::JpegtranProgressive),
                            yes(v, S::JpegtranGrayscale), yes(v, S::JpegtranTrim),
                            number(v, S::JpegtranCopyMode), number(v, S::JpegtranModifyMode)});
}
QString jpegoptimFromSettings(const SettingValues &v)
{
    return jpegoptimOptions({yes(v, S::JpegoptimStrip), number(v, S::JpegoptimStripMode)});
}
QString advPngFromSettings(const SettingValues &v)
{
    return advPngOptions(
        {yes(v, S::AdvPNGUseParam), text(v, S::AdvPNGParam), number(v, S::AdvPNGCompressLevel)});
}
QString optiPngFromSettings(const SettingValues &v)
{
    return optiPngOptions(
        {yes(v, S::OptiPNGUseParam), text(v, S::OptiPNGParam), number(v, S::OptiPNGOptimizeLevel)});
}
QString pngCrushFromSettings(const SettingValues &v)
{
    return pngCrushOptions({yes(v, S::PNGCrushUseParam), text(v, S::PNGCrushParam)});
}
QString pngoutFromSettings(const SettingValues &v)
{
    return pngoutOptions({yes(v, S::PNGOUTUseParam), text(v, S::PNGOUTParam)});
}
QString noOptions(const SettingValues &)
{
    return QString();
}

// Argument lists, one per output form. Every path the run hands a tool is a
// full path inside its private folder, so none can be taken for a switch.
QStringList optionsThenFile(const QStringList &words, const QString &input, const QString &)
{
    return words + QStringList{input};
}
QStringList optionsThenBoth(const QStringList &words, const QString &input, const QString &output)
{
    return words + QStringList{input, output};
}
QStringList fileThenOptions(const QStringList &words, const QString &input, const QString &)
{
    return QStringList{input} + words;
}
QStringList fileOnly(const QStringList &, const QString &input, const QString &)
{
    return {input};
}
QStringList fileThenOutput(const QStringList &, const QString &input, const QString &output)
{
    return {input, output};
}
// This jpegtran writes its result only where -outfile says, before the input.
QStringList jpegtranArguments(const QStringList &words, const QString &input, const QString &output)
{
    return words + QStringList{QStringLiteral("-outfile"), output, input};
}

PictureAllowances keepsPicture(const QStringList &)
{
    return {};
}
PictureAllowances jpegtranAllowances(const QStringList &words)
{
    PictureAllowances a;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &w = words.at(i);
        const QString next = words.value(i + 1);
        if (w == u"-flip")
            a.reshape = next == u"vertical" ? Reshape::FlipV : Reshape::FlipH;
        else if (w == u"-rotate")
            a.reshape = next == u"90"    ? Reshape::Rotate90
                        : next == u"180" ? Reshape::Rotate180
                                         : Reshape::Rotate270;
        else if (w == u"-transpose")
            a.reshape = Reshape::Transpose;
        else if (w == u"-transverse")
            a.reshape = Reshape::Transverse;
        else if (w == u"-grayscale")
            a.grayscale = a.colour = true; // grey pixels carry no colour profile
        else if (w == u"-trim")
            a.trim = true;
        else if (w == u"-crop" || w == u"-drop" || w == u"-wipe")
            a.anyPixels = true;
    }
    // Markers: this jpegtran copies only comments unless told otherwise.
    const qsizetype copy = words.lastIndexOf(QStringLiteral("-copy"));
    const QString which = copy < 0 ? QStringLiteral("comments") : words.value(copy + 1);
    if (which != u"all") {
        a.allMetadata = true;
        a.keepComments = which == u"comments";
    }
    return a;
}
PictureAllowances jpegoptimAllowances(const QStringList &words)
{
    PictureAllowances a;
    for (const QString &w : words) {
        a.allMetadata = a.allMetadata || w == u"--strip-all" || w == u"-s";
        a.comments = a.comments || w == u"--strip-com";
        a.exif = a.exif || w == u"--strip-exif";
        a.iptc = a.iptc || w == u"--strip-iptc";
        a.xmp = a.xmp || w == u"--strip-xmp";
        a.colour = a.colour || w == u"--strip-icc"; // the one strip that names the profile
    }
    return a;
}
PictureAllowances optiPngAllowances(const QStringList &words)
{
    PictureAllowances a;
    const qsizetype strip = words.indexOf(QStringLiteral("-strip"));
    a.allMetadata = strip >= 0 && words.value(strip + 1) == u"all";
    return a;
}
PictureAllowances pngCrushAllowances(const QStringList &words)
{
    static const QStringList Colour{QStringLiteral("iCCP"), QStringLiteral("sRGB"),
                                    QStringLiteral("gAMA"), QStringLiteral("cHRM"),
                                    QStringLiteral("cICP")};
    PictureAllowances a;
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words.at(i) != u"-rem")
            continue;
        const QString name = words.at(i + 1);
        if (name.startsWith(QStringLiteral("all")))
            a.allMetadata = true; // alla, allb: every ancillary chunk but transparency
        else if (name.compare(QStringLiteral("text"), Qt::CaseInsensitive) == 0)
            a.text = true;
        else if (name.size() == 4) {
            a.chunks.append(name.toLatin1());
            a.colour = a.colour || Colour.contains(name);
        }
    }
    return a;
}

} // namespace

const ToolInfo &toolInfo(Tool tool)
{
    static const std::array<ToolInfo, ToolCount> Infos{{
        {Tool::Jpegtran, u"Jpegtran", ImageKind::Jpeg, Output::BesideWithJpg, u"jpegtran", 2,
         S::JpegtranUse, S::JpegtranPath, jpegtranFromSettings, jpegtranArguments,
         jpegtranAllowances},
        {Tool::Jpegoptim, u"Jpegoptim", ImageKind::Jpeg, Output::InPlace, u"jpegoptim", 3,
         S::JpegoptimUse, S::JpegoptimPath, jpegoptimFromSettings, optionsThenFile,
         jpegoptimAllowances},
        {Tool::AdvPNG, u"AdvPNG", ImageKind::Png, Output::InPlace, u"advpng", 4, S::AdvPNGUse,
         S::AdvPNGPath, advPngFromSettings, optionsThenFile, keepsPicture},
        {Tool::OptiPNG, u"OptiPNG", ImageKind::Png, Output::InPlace, u"optipng", 5, S::OptiPNGUse,
         S::OptiPNGPath, optiPngFromSettings, optionsThenFile, optiPngAllowances},
        {Tool::PNGCrush, u"PNGCrush", ImageKind::Png, Output::TemporaryFile, u"pngcrush", 6,
         S::PNGCrushUse, S::PNGCrushPath, pngCrushFromSettings, optionsThenBoth,
         pngCrushAllowances},
        {Tool::PNGOUT, u"PNGOUT", ImageKind::Png, Output::InPlace, u"pngout", 7, S::PNGOUTUse,
         S::PNGOUTPath, pngoutFromSettings, fileThenOptions, keepsPicture,
         2 /* nothing better found */},
        {Tool::PNGRewrite, u"PNGRewrite", ImageKind::Png, Output::InPlace, u"pngrewrite", 8,
         S::PNGRewriteUse, S::PNGRewritePath, noOptions, fileOnly, keepsPicture},
        {Tool::cPNGC, u"cPNGC", ImageKind::Png, Output::TemporaryFile, u"cpngc", 9, S::cPNGCUse,
         S::cPNGCPath, noOptions, fileThenOutput, keepsPicture},
    }};
    return Infos.at(static_cast<std::size_t>(tool));
}

QString jpegtranOptions(const JpegtranSettings &s)
{
    static const std::array<const char16_t *, 8> Copy{u"-copy none ", u"-copy comments ",
                                                      u"-copy all "};
    static const std::array<const char16_t *, 8> Transform{u"",
                                                           u"-flip horizontal ",
                                                           u"-flip vertical ",
                                                           u"-rotate 90 ",
                                                           u"-rotate 180 ",
                                                           u"-rotate 270 ",
                                                           u"-transpose ",
                                                           u"-transverse "};
    QString o;
    if (s.optimize)
        o += QStringLiteral("-optimize ");
    if (s.progressive)
        o += QStringLiteral("-progressive ");
    if (s.grayscale)
        o += QStringLiteral("-grayscale ");
    if (s.trim)
        o += QStringLiteral("-trim ");
    o += at(Copy, s.markerCopy);
    o += at(Transform, s.transform);
    o += QStringLiteral("-verbose");
    return o;
}

QString jpegoptimOptions(const JpegoptimSettings &s)
{
    static const std::array<const char16_t *, 8> Strip{
        u"--strip-all ", u"--strip-com ", u"--strip-exif ", u"--strip-iptc ", u"--strip-icc "};
    QString o;
    if (s.strip)
        o += at(Strip, s.marker);
    o += QStringLiteral("-v -p ");
    return o;
}

QString advPngOptions(const LevelSettings &s)
{
    return s.manual ? s.manualText : QStringLiteral("-z -") + QString::number(s.level);
}

QString optiPngOptions(const LevelSettings &s)
{
    return s.manual ? s.manualText : QStringLiteral("-o") + QString::number(s.level);
}

QString pngCrushOptions(const ManualSettings &s)
{
    return s.manual ? s.manualText : QStringLiteral("-rem alla -l 9");
}

QString pngoutOptions(const ManualSettings &s)
{
    return s.manual ? s.manualText : QString();
}

} // namespace tinsoke

namespace tinsoke {

PictureAllowances &PictureAllowances::operator|=(const PictureAllowances &o)
{
    if (o.reshape != Reshape::None)
        reshape = o.reshape;
    grayscale = grayscale || o.grayscale;
    trim = trim || o.trim;
    anyPixels = anyPixels || o.anyPixels;
    colour = colour || o.colour;
    // Comments survive two strips only when both keep them.
    keepComments = (allMetadata ? keepComments : true) && (o.allMetadata ? o.keepComments : true);
    allMetadata = allMetadata || o.allMetadata;
    exif = exif || o.exif;
    comments = comments || o.comments;
    xmp = xmp || o.xmp;
    iptc = iptc || o.iptc;
    text = text || o.text;
    chunks += o.chunks;
    return *this;
}

} // namespace tinsoke
