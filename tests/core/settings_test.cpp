#include "extratools.h"
#include "settings.h"
#include "tools.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

using namespace tinsoke;
using S = Setting;

namespace {

// A tool's setting by its key.
Setting key(Tool tool, const char16_t *name)
{
    return *toolSetting(tool, name);
}

} // namespace

// The designed text and the one key added since: where originals go.
TEST(DefaultSettings, IsTheFixedTextOf613Bytes)
{
    const QByteArray text = defaultSettingsText();
    EXPECT_EQ(text.size(), 613);
    EXPECT_EQ(text.count("\r\n"), 63);
    EXPECT_EQ(text.count('\n'), 63);
    EXPECT_TRUE(
        text.startsWith("[Set]\r\nFittingThreshold =10\r\n\r\n[Option]\r\nSaveMode "
                        "=0\r\nJobs =0\r\nOriginals =Trash\r\n\r\n[Form]\r\nTop =0\r\nLeft =0\r\n"
                        "Width =632\r\nHeight =453\r\n\r\n"));
    EXPECT_TRUE(text.endsWith("\r\n\r\n[cPNGC]\r\nUse =No\r\nPath =\r\n"));
    EXPECT_TRUE(text.contains("[AdvPNG]\r\nUse =No\r\nPath =\r\nCompressLevel =2\r\nUseParam "
                              "=No\r\nParam =\r\n\r\n[OptiPNG]"));
}

// The text is put together from the tool table: a section, key, value or
// order that moved would still give the same size.
TEST(DefaultSettings, StaysTheSameTextByteForByte)
{
    EXPECT_EQ(QCryptographicHash::hash(defaultSettingsText(), QCryptographicHash::Sha256).toHex(),
              QByteArray("a2cce1b53e65e31cd96d21e6591f7295dc6de3672fa72230e91992d993c92845"));
}

TEST(Settings, AnEmptyFileReadsAsYesAndZero)
{
    const SettingValues v = readSettings(IniDocument::fromBytes(QByteArray()));
    EXPECT_TRUE(valueOf(v, key(Tool::Jpegtran, u"Use")).toBool());
    EXPECT_TRUE(valueOf(v, key(Tool::PNGOUT, u"UseParam")).toBool());
    EXPECT_EQ(valueOf(v, key(Tool::AdvPNG, u"CompressLevel")).toInt(), 0);
    EXPECT_EQ(valueOf(v, key(Tool::cPNGC, u"Path")).toString(), QString());
}

TEST(Settings, SavingWritesEveryKeyInItsOrder)
{
    SettingValues v = readSettings(IniDocument::fromBytes(QByteArray()));
    valueOf(v, S::SaveMode) = -1;
    valueOf(v, key(Tool::Jpegtran, u"Path")) = QStringLiteral("/usr/bin/jpegtran");
    IniDocument d = IniDocument::fromBytes(QByteArray());
    writeSettings(d, v);
    EXPECT_EQ(d.toBytes(),
              QByteArray("[Option]\r\nSaveMode=-1\r\nJobs=0\r\nOriginals=Keep\r\n\r\n"
                         "[Form]\r\nTop=0\r\nLeft=0\r\nWidth=0\r\nHeight=0\r\n\r\n"
                         "[Jpegtran]\r\nUse=Yes\r\nPath=/usr/bin/jpegtran\r\n"
                         "Optimize=Yes\r\nProgressive=Yes\r\nGrayscale=Yes\r\n"
                         "Trim=Yes\r\nCopyMode=0\r\nModifyMode=0\r\n\r\n"
                         "[Jpegoptim]\r\nUse=Yes\r\nPath=\r\nStrip=Yes\r\n"
                         "StripMode=0\r\n\r\n"
                         "[AdvPNG]\r\nUse=Yes\r\nPath=\r\nUseParam=Yes\r\nParam=\r\n"
                         "CompressLevel=0\r\n\r\n"
                         "[OptiPNG]\r\nUse=Yes\r\nPath=\r\nUseParam=Yes\r\nParam=\r\n"
                         "OptimizeLevel=0\r\n\r\n"
                         "[PNGCrush]\r\nUse=Yes\r\nPath=\r\nUseParam=Yes\r\nParam=\r\n\r\n"
                         "[PNGOUT]\r\nUse=Yes\r\nPath=\r\nUseParam=Yes\r\nParam=\r\n\r\n"
                         "[PNGRewrite]\r\nUse=Yes\r\nPath=\r\n\r\n"
                         "[cPNGC]\r\nUse=Yes\r\nPath=\r\n"));
}

TEST(Settings, SavingOverTheDefaultFileRewritesOnlyItsOwnLines)
{
    IniDocument d = IniDocument::fromBytes(defaultSettingsText());
    writeSettings(d, readSettings(d));
    const QByteArray after = d.toBytes();
    EXPECT_TRUE(
        after.startsWith("[Set]\r\nFittingThreshold =10\r\n\r\n[Option]\r\nSaveMode=0\r\n"));
    EXPECT_TRUE(after.contains("\r\n[PNGOut]\r\nUse=No\r\nPath=\r\nUseParam=No\r\nParam=\r\n"));
    EXPECT_FALSE(after.contains("[PNGOUT]"));
    EXPECT_EQ(after.count(" ="), 1); // only FittingThreshold keeps its blank
    EXPECT_EQ(after.count("\r\n"), 63);
}

TEST(Settings, PngoutSectionIsFoundInAnySpellingAndCreatedInCapitals)
{
    QByteArray text = QByteArray(defaultSettingsText()).replace("[PNGOut]", "[pngout]");
    IniDocument d = IniDocument::fromBytes(
        text.replace("Path =\r\nUseParam =No\r\nParam =\r\n\r\n[PNGRewrite]",
                     "Path =/x/pngout\r\nUseParam =No\r\nParam =\r\n\r\n[PNGRewrite]"));
    EXPECT_EQ(valueOf(readSettings(d), key(Tool::PNGOUT, u"Path")).toString(),
              QStringLiteral("/x/pngout"));

    const QByteArray without =
        QByteArray(defaultSettingsText())
            .replace("[PNGOut]\r\nUse =No\r\nPath =\r\nUseParam =No\r\nParam =\r\n\r\n", "");
    IniDocument e = IniDocument::fromBytes(without);
    writeSettings(e, readSettings(e));
    EXPECT_TRUE(e.toBytes().endsWith("[cPNGC]\r\nUse=No\r\nPath=\r\n\r\n"
                                     "[PNGOUT]\r\nUse=Yes\r\nPath=\r\nUseParam=Yes\r\nParam=\r\n"));
}

TEST(WindowPosition, StaysOnTheWorkAreaOrGoesToZero)
{
    const QRect area(0, 0, 1920, 1040); // far edges 1920 and 1040
    EXPECT_EQ(windowPositionFor(300, 100, area), QPoint(300, 100));
    EXPECT_EQ(windowPositionFor(300, 1040, area), QPoint(300, 1040)); // exactly the bottom edge
    EXPECT_EQ(windowPositionFor(300, 1041, area), QPoint(300, 0));
    EXPECT_EQ(windowPositionFor(1920, -1, area), QPoint(1920, 0));
    EXPECT_EQ(windowPositionFor(1921, 5, area), QPoint(0, 5));
    EXPECT_EQ(windowPositionFor(-5, -5, area), QPoint(0, 0));
    // Compared with the far edges themselves, not less the window's size.
    EXPECT_EQ(windowPositionFor(1900, 1000, area), QPoint(1900, 1000));
}

TEST(WindowSize, NeverBelowTheDesignNorBeyondTheWorkArea)
{
    const QSize designed(632, 453);
    const QRect area(0, 0, 1920, 1040);
    EXPECT_EQ(windowSizeFor(0, 0, designed, area), designed); // no size stored yet
    EXPECT_EQ(windowSizeFor(900, 600, designed, area), QSize(900, 600));
    EXPECT_EQ(windowSizeFor(500, 9999, designed, area), QSize(632, 1040));
    EXPECT_EQ(windowSizeFor(-5, 453, designed, QRect(0, 0, 600, 400)), designed);
}

// Values no save of ours writes: told, and harmless where they would change
// pixels, remove data or overwrite originals.
TEST(Settings, HandWrittenValuesAreToldAndDoNoHarm)
{
    QList<SettingNote> notes;
    const SettingValues v = readSettings(
        IniDocument::fromBytes("[Option]\r\nSaveMode=copy\r\n[Jpegtran]\r\nUse=TRUE\r\n"
                               "Grayscale=false\r\nTrim=No ; comment\r\nCopyMode=\xef\xbc\x91\r\n"
                               "ModifyMode=x\r\n[Jpegoptim]\r\nUse=Yes\r\nStrip=\r\n"),
        &notes);
    EXPECT_EQ(valueOf(v, S::SaveMode).toInt(), 1); // a copy beside, never the original
    EXPECT_TRUE(valueOf(v, key(Tool::Jpegtran, u"Use")).toBool());
    EXPECT_FALSE(valueOf(v, key(Tool::Jpegtran, u"Grayscale")).toBool());
    EXPECT_FALSE(valueOf(v, key(Tool::Jpegtran, u"Trim")).toBool());
    EXPECT_EQ(valueOf(v, key(Tool::Jpegtran, u"CopyMode")).toInt(), 2); // every marker kept
    EXPECT_EQ(valueOf(v, key(Tool::Jpegtran, u"ModifyMode")).toInt(), 0);
    EXPECT_FALSE(valueOf(v, key(Tool::Jpegoptim, u"Strip")).toBool());
    const auto kindOf = [&notes](Setting s) {
        for (const SettingNote &n : notes)
            if (n.setting == s)
                return static_cast<int>(n.kind);
        return -1;
    };
    EXPECT_EQ(kindOf(S::SaveMode), static_cast<int>(SettingNote::Kind::NotNumber));
    EXPECT_EQ(kindOf(key(Tool::Jpegtran, u"Grayscale")),
              static_cast<int>(SettingNote::Kind::NotYesNo));
    EXPECT_EQ(kindOf(key(Tool::Jpegoptim, u"Strip")),
              static_cast<int>(SettingNote::Kind::NotYesNo));
    EXPECT_EQ(kindOf(key(Tool::Jpegoptim, u"StripMode")),
              static_cast<int>(SettingNote::Kind::Missing));
    EXPECT_EQ(kindOf(key(Tool::Jpegtran, u"Optimize")),
              static_cast<int>(SettingNote::Kind::Missing));
    EXPECT_EQ(kindOf(key(Tool::Jpegtran, u"Progressive")),
              static_cast<int>(SettingNote::Kind::Missing));
    EXPECT_TRUE(
        valueOf(v, key(Tool::Jpegtran, u"Optimize")).toBool()); // a missing key keeps its default
}

// A destructive option and a user's tool's tick read one yes/no the same
// way: only the eight words in ASCII count, anything else is no.
TEST(Settings, DestructiveYesNoReadsAlikeForOptionsAndUserTools)
{
    const struct {
        const char *text;
        bool yes;
    } rows[] = {{"Yes", true},
                {"on", true},
                {"1", true},
                {"No", false},
                {"TRUE", false},
                {"", false},
                {"ja", false},
                {"No\xc2\xa0", false},       // a no-break space after No
                {"Yes\xe3\x80\x80", false}}; // an ideographic space after Yes
    for (const auto &r : rows) {
        const IniDocument d = IniDocument::fromBytes(
            QByteArray("[Jpegtran]\r\nGrayscale=") + r.text +
            "\r\n[ExtraTool1]\r\nName=mine\r\nKind=PNG\r\nPath=/x\r\nArgs={in}\r\nUse=" + r.text +
            "\r\n");
        EXPECT_EQ(valueOf(readSettings(d), key(Tool::Jpegtran, u"Grayscale")).toBool(), r.yes)
            << r.text;
        EXPECT_EQ(readExtraTools(d).value(0).use, r.yes) << r.text;
    }
}
