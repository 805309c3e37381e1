#include "optionwords.h"

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
