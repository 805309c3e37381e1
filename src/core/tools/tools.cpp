#include "tools.h"

#include "optionwords.h"

#include <array>

namespace tinsoke {

namespace {

QStringList jpegtranFromSettings(const ToolSettings &s)
{
    return jpegtranWords({s.yes(u"Optimize"), s.yes(u"Progressive"), s.yes(u"Grayscale"),
                          s.yes(u"Trim"), s.number(u"CopyMode"), s.number(u"ModifyMode")});
}
QStringList jpegoptimFromSettings(const ToolSettings &s)
{
    return jpegoptimWords({s.yes(u"Strip"), s.number(u"StripMode")});
}
QStringList advPngFromSettings(const ToolSettings &s)
{
    return advPngWords({s.yes(u"UseParam"), s.text(u"Param"), s.number(u"CompressLevel")});
}
QStringList optiPngFromSettings(const ToolSettings &s)
{
    return optiPngWords({s.yes(u"UseParam"), s.text(u"Param"), s.number(u"OptimizeLevel")});
}
QStringList pngCrushFromSettings(const ToolSettings &s)
{
    return pngCrushWords({s.yes(u"UseParam"), s.text(u"Param")});
}
QStringList pngoutFromSettings(const ToolSettings &s)
{
    return pngoutWords({s.yes(u"UseParam"), s.text(u"Param")});
}
QStringList noOptions(const ToolSettings &)
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

namespace {

using K = ValueKind;

// Every tool's section starts with these: its tick and its program.
constexpr KeySpec UseKey{u"Use", K::YesNo, "No"};
constexpr KeySpec PathKey{u"Path", K::Text, ""};

std::array<ToolInfo, ToolCount> makeToolTable()
{
    // A manual text typed for the tool, and the tick that uses it instead of the page's options.
    const KeySpec param{u"Param", K::Text, ""};
    const KeySpec useParam{u"UseParam", K::YesNo, "No"};
    std::array<ToolInfo, ToolCount> tools{{
        {Tool::Jpegtran,
         u"Jpegtran",
         ImageKind::Jpeg,
         Output::BesideWithJpg,
         u"jpegtran",
         {u"Jpegtran",
          u"Jpegtran",
          {UseKey,
           PathKey,
           {u"Optimize", K::YesNo, "No"},
           {u"Progressive", K::YesNo, "No"},
           {u"Grayscale", K::YesNo, "No", true},
           {u"Trim", K::YesNo, "No", true},
           // Unreadable: every marker copied.
           {u"CopyMode", K::Integer, "0", true, 2},
           {u"ModifyMode", K::Integer, "0", true}}},
         u"Jpegtran",
         0,
         jpegtranFromSettings,
         jpegtranArguments,
         jpegtranAllowances},
        {Tool::Jpegoptim,
         u"Jpegoptim",
         ImageKind::Jpeg,
         Output::InPlace,
         u"jpegoptim",
         {u"Jpegoptim",
          u"Jpegoptim",
          {UseKey,
           PathKey,
           {u"Strip", K::YesNo, "No", true},
           // Which markers to strip cannot be read: nothing is stripped.
           {u"StripMode", K::Integer, "0", true, 0, u"Strip"}}},
         u"Jpegoptim",
         50,
         jpegoptimFromSettings,
         optionsThenFile,
         jpegoptimAllowances},
        {Tool::AdvPNG,
         u"AdvPNG",
         ImageKind::Png,
         Output::InPlace,
         u"advpng",
         {u"AdvPNG",
          u"AdvPNG",
          {UseKey, PathKey, param, useParam, {u"CompressLevel", K::Integer, "2"}},
          {u"Use", u"Path", u"UseParam", u"Param", u"CompressLevel"},
          {u"Use", u"Path", u"CompressLevel", u"UseParam", u"Param"}},
         u"AdvPNG",
         50,
         advPngFromSettings,
         optionsThenFile,
         keepsPicture},
        {Tool::OptiPNG,
         u"OptiPNG",
         ImageKind::Png,
         Output::InPlace,
         u"optipng",
         {u"OptiPNG",
          u"OptiPNG",
          {UseKey, PathKey, param, useParam, {u"OptimizeLevel", K::Integer, "2"}},
          {u"Use", u"Path", u"UseParam", u"Param", u"OptimizeLevel"},
          {u"Use", u"Path", u"OptimizeLevel", u"UseParam", u"Param"}},
         u"OptiPNG",
         0,
         optiPngFromSettings,
         optionsThenFile,
         optiPngAllowances},
        {Tool::PNGCrush,
         u"PNGCrush",
         ImageKind::Png,
         Output::TemporaryFile,
         u"pngcrush",
         {u"PNGCrush", u"PNGCrush", {UseKey, PathKey, useParam, param}},
         u"PNGCrush",
         50,
         pngCrushFromSettings,
         optionsThenBoth,
         pngCrushAllowances},
        {Tool::PNGOUT,
         u"PNGOUT",
         ImageKind::Png,
         Output::InPlace,
         u"pngout",
         {u"PNGOut",
          u"PNGOUT",
          {UseKey, PathKey, param, useParam},
          {u"Use", u"Path", u"UseParam", u"Param"},
          {u"Use", u"Path", u"UseParam", u"Param"}},
         u"PNGOut",
         0,
         pngoutFromSettings,
         fileThenOptions,
         keepsPicture,
         2 /* nothing better found */},
        {Tool::PNGRewrite,
         u"PNGRewrite",
         ImageKind::Png,
         Output::InPlace,
         u"pngrewrite",
         {u"PNGRewrite", u"PNGRewrite", {UseKey, PathKey}},
         u"PNGRewrite",
         0,
         noOptions,
         fileOnly,
         keepsPicture},
        {Tool::cPNGC,
         u"cPNGC",
         ImageKind::Png,
         Output::TemporaryFile,
         u"cpngc",
         {u"cPNGC", u"cPNGC", {UseKey, PathKey}},
         u"cPNGC",
         50,
         noOptions,
         fileThenOutput,
         keepsPicture},
    }};
    // The size columns follow the caption and the size.
    for (std::size_t i = 0; i < tools.size(); ++i) {
        ToolInfo &t = tools.at(i);
        Q_ASSERT(t.tool == static_cast<Tool>(i));
        t.column = 2 + static_cast<int>(i);
    }
    return tools;
}

} // namespace

const ToolInfo &toolInfo(Tool tool)
{
    static const std::array<ToolInfo, ToolCount> Tools = makeToolTable();
    return Tools.at(static_cast<std::size_t>(tool));
}

QVariant ToolSettings::value(const char16_t *key) const
{
    const qsizetype i = m_section.indexOf(key);
    Q_ASSERT(i >= 0);
    return m_values.value(i);
}

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
