#include "commandline.h"
#include "commandsplit.h"

#include <gtest/gtest.h>

using namespace tinsoke;

namespace {
const QString W = QStringLiteral("/home/u/写真 フォルダ/a b.png");
const QString T = QStringLiteral("/tmp/0812173012.tmp");
} // namespace

TEST(JpegtranOptions, DesignedDefaultsCopyNoMarkers)
{
    EXPECT_EQ(jpegtranOptions({}), QStringLiteral("-copy none -verbose"));
}

TEST(JpegtranOptions, SwitchesComeInTheirFixedOrder)
{
    JpegtranSettings s{true, true, true, true, 2, 5};
    EXPECT_EQ(jpegtranOptions(s), QStringLiteral("-optimize -progressive -grayscale -trim "
                                                 "-copy all -rotate 270 -verbose"));
    s = {false, true, false, true, 1, 0};
    EXPECT_EQ(jpegtranOptions(s), QStringLiteral("-progressive -trim -copy comments -verbose"));
}

TEST(JpegtranOptions, EveryTransformAndNoSelection)
{
    const char *expected[] = {"",
                              "-flip horizontal ",
                              "-flip vertical ",
                              "-rotate 90 ",
                              "-rotate 180 ",
                              "-rotate 270 ",
                              "-transpose ",
                              "-transverse "};
    for (int i = 0; i < 8; ++i) {
        JpegtranSettings s;
        s.transform = i;
        EXPECT_EQ(jpegtranOptions(s), QStringLiteral("-copy none ") +
                                          QString::fromLatin1(expected[i]) +
                                          QStringLiteral("-verbose"))
            << i;
    }
    JpegtranSettings none;
    none.markerCopy = -1;
    none.transform = -1;
    EXPECT_EQ(jpegtranOptions(none), QStringLiteral("-verbose"));
}

TEST(JpegoptimOptions, StripSwitchOnlyWhenTicked)
{
    EXPECT_EQ(jpegoptimOptions({false, 3}), QStringLiteral("-v -p "));
    const char *expected[] = {"--strip-all ", "--strip-com ", "--strip-exif ", "--strip-iptc ",
                              "--strip-icc "};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(jpegoptimOptions({true, i}),
                  QString::fromLatin1(expected[i]) + QStringLiteral("-v -p "));
    EXPECT_EQ(jpegoptimOptions({true, -1}), QStringLiteral("-v -p "));
}

TEST(LevelOptions, DigitFollowsTheSwitchDirectly)
{
    EXPECT_EQ(advPngOptions({false, QStringLiteral("-z -1"), 4}), QStringLiteral("-z -4"));
    EXPECT_EQ(advPngOptions({false, {}, 0}), QStringLiteral("-z -0"));
    EXPECT_EQ(optiPngOptions({false, {}, 2}), QStringLiteral("-o2"));
    EXPECT_EQ(optiPngOptions({false, {}, 7}), QStringLiteral("-o7"));
}

TEST(ManualOptions, ReplaceEverythingAsTyped)
{
    const QString typed = QStringLiteral("  -o7 -out \"x y.png\"  ");
    EXPECT_EQ(advPngOptions({true, typed, 3}), typed);
    EXPECT_EQ(optiPngOptions({true, typed, 3}), typed);
    EXPECT_EQ(pngCrushOptions({true, typed}), typed);
    EXPECT_EQ(pngoutOptions({true, typed}), typed);
    // Ticked but empty: empty, not the default.
    EXPECT_EQ(advPngOptions({true, {}, 3}), QString());
    EXPECT_EQ(optiPngOptions({true, {}, 3}), QString());
    EXPECT_EQ(pngCrushOptions({true, {}}), QString());
    // Not ticked: the box's text is ignored.
    EXPECT_EQ(pngCrushOptions({false, typed}), QStringLiteral("-rem alla -l 9"));
    EXPECT_EQ(pngoutOptions({false, typed}), QString());
}

TEST(ToolCommandLine, EveryTemplateToTheCharacter)
{
    const QString exe = QStringLiteral("/opt/my tools/tool");
    EXPECT_EQ(toolCommandLine(Tool::Jpegtran, exe, QStringLiteral("-copy none -verbose"),
                              QStringLiteral("/p/a b.jpg")),
              QStringLiteral("/opt/my tools/tool -copy none -verbose \"/p/a b.jpg\" "
                             "\"/p/a b.jpg.jpg\""));
    EXPECT_EQ(toolCommandLine(Tool::Jpegoptim, exe, QStringLiteral("-v -p "), W),
              QStringLiteral("/opt/my tools/tool -v -p  \"") + W + u'"');
    EXPECT_EQ(toolCommandLine(Tool::AdvPNG, exe, QStringLiteral("-z -4"), W),
              QStringLiteral("/opt/my tools/tool -z -4 \"") + W + u'"');
    EXPECT_EQ(toolCommandLine(Tool::OptiPNG, exe, QStringLiteral("-o2"), W),
              QStringLiteral("/opt/my tools/tool -o2 \"") + W + u'"');
    EXPECT_EQ(toolCommandLine(Tool::PNGCrush, exe, QStringLiteral("-rem alla -l 9"), W, T),
              QStringLiteral("/opt/my tools/tool -rem alla -l 9 \"") + W + QStringLiteral("\" \"") +
                  T + u'"');
    EXPECT_EQ(toolCommandLine(Tool::PNGOUT, exe, QStringLiteral("/y /kp"), W),
              QStringLiteral("/opt/my tools/tool \"") + W + QStringLiteral("\" /y /kp"));
    EXPECT_EQ(toolCommandLine(Tool::PNGRewrite, exe, QStringLiteral("ignored"), W),
              QStringLiteral("/opt/my tools/tool \"") + W + u'"');
    EXPECT_EQ(toolCommandLine(Tool::cPNGC, exe, QStringLiteral("ignored"), W, T),
              QStringLiteral("/opt/my tools/tool \"") + W + QStringLiteral("\" \"") + T + u'"');
}

TEST(ToolCommandLine, EmptyOptionsLeaveTheirBlanks)
{
    const QString exe = QStringLiteral("tool");
    EXPECT_EQ(toolCommandLine(Tool::AdvPNG, exe, {}, QStringLiteral("/a.png")),
              QStringLiteral("tool  \"/a.png\""));
    EXPECT_EQ(toolCommandLine(Tool::OptiPNG, exe, {}, QStringLiteral("/a.png")),
              QStringLiteral("tool  \"/a.png\""));
    EXPECT_EQ(
        toolCommandLine(Tool::PNGCrush, exe, {}, QStringLiteral("/a.png"), QStringLiteral("/t")),
        QStringLiteral("tool  \"/a.png\" \"/t\""));
    EXPECT_EQ(toolCommandLine(Tool::PNGOUT, exe, {}, QStringLiteral("/a.png")),
              QStringLiteral("tool \"/a.png\" "));
    EXPECT_EQ(toolCommandLine(Tool::Jpegtran, QString(), QStringLiteral("-verbose"),
                              QStringLiteral("/a.jpg")),
              QStringLiteral(" -verbose \"/a.jpg\" \"/a.jpg.jpg\""));
}

TEST(QuotedPath, EveryFileNameComesBackAsOneArgument)
{
    // Linux file names may hold quotes and backslashes, even at their end.
    const QStringList names{QStringLiteral("/p/plain.png"),
                            QStringLiteral("/p/it's [1] (copy) 😀.png"),
                            QStringLiteral("/p/say \"hi\".png"),
                            QStringLiteral("/p/back\\slash.png"),
                            QStringLiteral("/p/tricky\\\"quote.png"),
                            QStringLiteral("/p/ends in\\"),
                            QStringLiteral("/p/ends in\\\\"),
                            QStringLiteral("/p/x\" \"/etc/passwd"),
                            QString()};
    for (const QString &name : names) {
        EXPECT_EQ(splitArguments(quotedPath(name)), QStringList{name}) << name.toStdString();
        // Two quoted paths in a row stay two.
        EXPECT_EQ(
            splitArguments(quotedPath(name) + u' ' + quotedPath(name + QStringLiteral(".jpg"))),
            (QStringList{name, name + QStringLiteral(".jpg")}))
            << name.toStdString();
    }
    EXPECT_EQ(quotedPath(QStringLiteral("/p/a b.png")), QStringLiteral("\"/p/a b.png\""));
}
