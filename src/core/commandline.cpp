#include "commandline.h"

#include "commandsplit.h"

#include <array>

namespace tinsoke {

namespace {

// The words of a radio item; none when no item, or one past the list, is chosen.
template <std::size_t N> QStringList at(const std::array<QStringList, N> &table, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? table.at(static_cast<std::size_t>(index))
                                                     : QStringList();
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

QStringList jpegtranFromSettings(const SettingValues &v)
{
    return jpegtranWords({yes(v, S::JpegtranOptimize), yes(v, S::JpegtranProgressive),
                          yes(v, S::JpegtranGrayscale), yes(v, S::JpegtranTrim),
                          number(v, S::JpegtranCopyMode), number(v, S::JpegtranModifyMode)});
}
QStringList jpegoptimFromSettings(const SettingValues &v)
{
    return jpegoptimWords({yes(v, S::JpegoptimStrip), number(v, S::JpegoptimStripMode)});
}
QStringList advPngFromSettings(const SettingValues &v)
{
    return advPngWords(
        {yes(v, S::AdvPNGUseParam), text(v, S::AdvPNGParam), number(v, S::AdvPNGCompressLevel)});
}
QStringList optiPngFromSettings(const SettingValues &v)
{
    return optiPngWords(
        {yes(v, S::OptiPNGUseParam), text(v, S::OptiPNGParam), number(v, S::OptiPNGOptimizeLevel)});
}
QStringList pngCrushFromSettings(const SettingValues &v)
{
    return pngCrushWords({yes(v, S::PNGCrushUseParam), text(v, S::PNGCrushParam)});
}
QStringList pngoutFromSettings(const SettingValues &v)
{
    return pngoutWords({yes(v, S::PNGOUTUseParam), text(v, S::PNGOUTParam)});
}
QStringList noOptions(const SettingValues &)
{
    return {};
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

QStringList jpegtranWords(const JpegtranSettings &s)
{
    static const std::array<QStringList, 3> Copy{
        {{QStringLiteral("-copy"), QStringLiteral("none")},
         {QStringLiteral("-copy"), QStringLiteral("comments")},
         {QStringLiteral("-copy"), QStringLiteral("all")}}};
    static const std::array<QStringList, 8> Transform{
        {{},
         {QStringLiteral("-flip"), QStringLiteral("horizontal")},
         {QStringLiteral("-flip"), QStringLiteral("vertical")},
         {QStringLiteral("-rotate"), QStringLiteral("90")},
         {QStringLiteral("-rotate"), QStringLiteral("180")},
         {QStringLiteral("-rotate"), QStringLiteral("270")},
         {QStringLiteral("-transpose")},
         {QStringLiteral("-transverse")}}};
    QStringList o;
    if (s.optimize)
        o << QStringLiteral("-optimize");
    if (s.progressive)
        o << QStringLiteral("-progressive");
    if (s.grayscale)
        o << QStringLiteral("-grayscale");
    if (s.trim)
        o << QStringLiteral("-trim");
    o += at(Copy, s.markerCopy);
    o += at(Transform, s.transform);
    o << QStringLiteral("-verbose");
    return o;
}

QStringList jpegoptimWords(const JpegoptimSettings &s)
{
    static const std::array<QStringList, 5> Strip{{{QStringLiteral("--strip-all")},
                                                   {QStringLiteral("--strip-com")},
                                                   {QStringLiteral("--strip-exif")},
                                                   {QStringLiteral("--strip-iptc")},
                                                   {QStringLiteral("--strip-icc")}}};
    QStringList o;
    if (s.strip)
        o += at(Strip, s.marker);
    o << QStringLiteral("-v") << QStringLiteral("-p");
    return o;
}

QStringList advPngWords(const LevelSettings &s)
{
    return s.manual
               ? splitArguments(s.manualText)
               : QStringList{QStringLiteral("-z"), QStringLiteral("-") + QString::number(s.level)};
}

QStringList optiPngWords(const LevelSettings &s)
{
    return s.manual ? splitArguments(s.manualText)
                    : QStringList{QStringLiteral("-o") + QString::number(s.level)};
}

QStringList pngCrushWords(const ManualSettings &s)
{
    return s.manual ? splitArguments(s.manualText)
                    : QStringList{QStringLiteral("-rem"), QStringLiteral("alla"),
                                  QStringLiteral("-l"), QStringLiteral("9")};
}

QStringList pngoutWords(const ManualSettings &s)
{
    return s.manual ? splitArguments(s.manualText) : QStringList();
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
