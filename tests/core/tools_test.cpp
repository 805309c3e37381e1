#include "tools.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>

using namespace tinsoke;

namespace {

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

// What the allowances let differ, as words in a fixed order.
QString described(const PictureAllowances &a)
{
    static const char *const Reshapes[] = {"",          "flipH",     "flipV",     "rotate90",
                                           "rotate180", "rotate270", "transpose", "transverse"};
    QStringList d{QString::fromLatin1(Reshapes[static_cast<int>(a.reshape)])};
    const std::pair<bool, const char *> flags[] = {
        {a.grayscale, "grayscale"}, {a.trim, "trim"},         {a.anyPixels, "anyPixels"},
        {a.colour, "colour"},       {a.allMetadata, "all"},   {a.keepComments, "keepComments"},
        {a.exif, "exif"},           {a.comments, "comments"}, {a.xmp, "xmp"},
        {a.iptc, "iptc"},           {a.text, "text"}};
    for (const auto &[set, name] : flags)
        if (set)
            d << QString::fromLatin1(name);
    for (const QByteArray &chunk : a.chunks)
        d << QString::fromLatin1(chunk);
    d.removeAll(QString());
    return d.join(u' ');
}

} // namespace

// Each tool's arguments for one file around its option words, and where it
// leaves its result.
TEST(ToolTable, EveryToolsArgumentsAndOutput)
{
    const struct {
        Tool tool;
        Output output;
        const char *argv;
        int alsoFine;
    } rows[] = {
        {Tool::Jpegtran, Output::BesideWithJpg, "-w x -outfile /t/out /t/in", 0},
        {Tool::Jpegoptim, Output::InPlace, "-w x /t/in", 0},
        {Tool::AdvPNG, Output::InPlace, "-w x /t/in", 0},
        {Tool::OptiPNG, Output::InPlace, "-w x /t/in", 0},
        {Tool::PNGCrush, Output::TemporaryFile, "-w x /t/in /t/out", 0},
        {Tool::PNGOUT, Output::InPlace, "/t/in -w x", 2},
        {Tool::PNGRewrite, Output::InPlace, "/t/in", 0},
        {Tool::cPNGC, Output::TemporaryFile, "/t/in /t/out", 0},
    };
    ASSERT_EQ(std::size(rows), std::size_t(ToolCount));
    for (const auto &r : rows) {
        const ToolInfo &info = toolInfo(r.tool);
        const QString name = QString::fromUtf16(info.name);
        EXPECT_EQ(info.output, r.output) << qPrintable(name);
        EXPECT_EQ(info.arguments(words("-w x"), QStringLiteral("/t/in"), QStringLiteral("/t/out")),
                  words(r.argv))
            << qPrintable(name);
        EXPECT_EQ(info.alsoFine, r.alsoFine) << qPrintable(name);
    }
}

// What a tool's option words let the result check accept as changed.
TEST(ToolTable, AllowancesFromOptionWords)
{
    const struct {
        Tool tool;
        const char *words;
        const char *allows;
    } rows[] = {
        {Tool::Jpegtran, "-copy none -verbose", "all"},
        {Tool::Jpegtran, "-optimize", "all keepComments"}, // it copies comments unless told
        {Tool::Jpegtran, "-copy all -rotate 90", "rotate90"},
        {Tool::Jpegtran, "-copy all -flip vertical", "flipV"},
        {Tool::Jpegtran, "-copy all -grayscale -trim", "grayscale trim colour"},
        {Tool::Jpegtran, "-copy comments -crop 16x16+0+0", "anyPixels all keepComments"},
        {Tool::Jpegoptim, "--strip-all -v -p", "all"},
        {Tool::Jpegoptim, "--strip-com --strip-exif", "exif comments"},
        {Tool::Jpegoptim, "--strip-icc", "colour"},
        {Tool::OptiPNG, "-o2 -strip all", "all"},
        {Tool::OptiPNG, "-o7", ""},
        {Tool::PNGCrush, "-rem alla -l 9", "all"},
        {Tool::PNGCrush, "-rem iCCP -rem tIME -rem text", "colour text iCCP tIME"},
        {Tool::AdvPNG, "-z -4", ""},
        {Tool::PNGOUT, "/y /kp", ""},
    };
    for (const auto &r : rows)
        EXPECT_EQ(described(toolInfo(r.tool).allowances(words(r.words))),
                  QString::fromLatin1(r.allows))
            << qPrintable(QString::fromUtf16(toolInfo(r.tool).name)) << " " << r.words;
}
