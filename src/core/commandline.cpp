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

const ToolInfo &toolInfo(Tool tool)
{
    static const std::array<ToolInfo, 8> Infos{{
        {Tool::Jpegtran, u"Jpegtran", ImageKind::Jpeg, Output::BesideWithJpg, u"jpegtran"},
        {Tool::Jpegoptim, u"Jpegoptim", ImageKind::Jpeg, Output::InPlace, u"jpegoptim"},
        {Tool::AdvPNG, u"AdvPNG", ImageKind::Png, Output::InPlace, u"advpng"},
        {Tool::OptiPNG, u"OptiPNG", ImageKind::Png, Output::InPlace, u"optipng"},
        {Tool::PNGCrush, u"PNGCrush", ImageKind::Png, Output::TemporaryFile, u"pngcrush"},
        {Tool::PNGOUT, u"PNGOUT", ImageKind::Png, Output::InPlace, u"pngout"},
        {Tool::PNGRewrite, u"PNGRewrite", ImageKind::Png, Output::InPlace, u"pngrewrite"},
        {Tool::cPNGC, u"cPNGC", ImageKind::Png, Output::TemporaryFile, u"cpngc"},
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

QString quotedPath(const QString &path)
{
    QString q = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : path) {
        if (c == u'\\') {
            ++backslashes;
        } else {
            if (c == u'"')
                q += QString(backslashes + 1, u'\\'); // doubled, plus one for the quote
            backslashes = 0;
        }
        q += c;
    }
    q += QString(backslashes, u'\\'); // so that the closing quote stays a quote
    q += u'"';
    return q;
}

QString toolCommandLine(Tool tool, const QString &executable, const QString &options,
                        const QString &workingPath, const QString &secondPath)
{
    const QString blank = QStringLiteral(" ");
    const QString working = quotedPath(workingPath);
    switch (tool) {
    case Tool::Jpegtran:
        return executable + blank + options + blank + working + blank +
               quotedPath(workingPath + QStringLiteral(".jpg"));
    case Tool::Jpegoptim:
    case Tool::AdvPNG:
    case Tool::OptiPNG:
        return executable + blank + options + blank + working;
    case Tool::PNGCrush:
        return executable + blank + options + blank + working + blank + quotedPath(secondPath);
    case Tool::PNGOUT:
        return executable + blank + working + blank + options;
    case Tool::PNGRewrite:
        return executable + blank + working;
    case Tool::cPNGC:
        return executable + blank + working + blank + quotedPath(secondPath);
    }
    return QString();
}

} // namespace tinsoke
