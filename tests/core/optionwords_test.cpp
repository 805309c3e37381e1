#include "commandsplit.h"
#include "optionwords.h"

#include <gtest/gtest.h>

using namespace tinsoke;

namespace {

// The words of a text with single blanks between them.
QStringList words(const QString &text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

} // namespace

TEST(JpegtranOptions, DesignedDefaultsCopyNoMarkers)
{
    EXPECT_EQ(jpegtranWords({}), words(QStringLiteral("-copy none -verbose")));
}

TEST(JpegtranOptions, SwitchesComeInTheirFixedOrder)
{
    JpegtranSettings s{true, true, true, true, 2, 5};
    EXPECT_EQ(jpegtranWords(s), words(QStringLiteral("-optimize -progressive -grayscale -trim "
                                                     "-copy all -rotate 270 -verbose")));
    s = {false, true, false, true, 1, 0};
    EXPECT_EQ(jpegtranWords(s),
              words(QStringLiteral("-progressive -trim -copy comments -verbose")));
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
        EXPECT_EQ(jpegtranWords(s),
                  words(QStringLiteral("-copy none ") + QString::fromLatin1(expected[i]) +
                        QStringLiteral("-verbose")))
            << i;
    }
    JpegtranSettings none;
    none.markerCopy = -1;
    none.transform = -1;
    EXPECT_EQ(jpegtranWords(none), words(QStringLiteral("-verbose")));
}

TEST(JpegoptimOptions, StripSwitchOnlyWhenTicked)
{
    EXPECT_EQ(jpegoptimWords({false, 3}), words(QStringLiteral("-v -p ")));
    const char *expected[] = {"--strip-all ", "--strip-com ", "--strip-exif ", "--strip-iptc ",
                              "--strip-icc "};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(jpegoptimWords({true, i}),
                  words(QString::fromLatin1(expected[i]) + QStringLiteral("-v -p ")));
    EXPECT_EQ(jpegoptimWords({true, -1}), words(QStringLiteral("-v -p ")));
}

TEST(LevelOptions, DigitFollowsTheSwitchDirectly)
{
    EXPECT_EQ(advPngWords({false, QStringLiteral("-z -1"), 4}), words(QStringLiteral("-z -4")));
    EXPECT_EQ(advPngWords({false, {}, 0}), words(QStringLiteral("-z -0")));
    EXPECT_EQ(optiPngWords({false, {}, 2}), words(QStringLiteral("-o2")));
    EXPECT_EQ(optiPngWords({false, {}, 7}), words(QStringLiteral("-o7")));
}

TEST(ManualOptions, ReplaceEverythingAsTyped)
{
    const QString typed = QStringLiteral("  -o7 -out \"x y.png\"  ");
    const QStringList asTyped{QStringLiteral("-o7"), QStringLiteral("-out"),
                              QStringLiteral("x y.png")};
    EXPECT_EQ(advPngWords({true, typed, 3}), asTyped);
    EXPECT_EQ(optiPngWords({true, typed, 3}), asTyped);
    EXPECT_EQ(pngCrushWords({true, typed}), asTyped);
    EXPECT_EQ(pngoutWords({true, typed}), asTyped);
    // Ticked but empty: empty, not the default.
    EXPECT_EQ(advPngWords({true, {}, 3}), QStringList());
    EXPECT_EQ(optiPngWords({true, {}, 3}), QStringList());
    EXPECT_EQ(pngCrushWords({true, {}}), QStringList());
    // Not ticked: the box's text is ignored.
    EXPECT_EQ(pngCrushWords({false, typed}), words(QStringLiteral("-rem alla -l 9")));
    EXPECT_EQ(pngoutWords({false, typed}), QStringList());
}
