#include "commandline.h"
#include "commandsplit.h"

#include <gtest/gtest.h>

using namespace tinsoke;

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
