#include "extratools.h"

#include <gtest/gtest.h>
#include <vector>

using namespace tinsoke;

TEST(ExtraTools, ArgumentLinesSplitAsAShellSplitsThem)
{
    const struct {
        const char *line;
        std::vector<const char *> words;
    } cases[] = {
        {R"(--level=3 "two words" --out={out} {in})",
         {"--level=3", "two words", "--out={out}", "{in}"}},
        {R"('a "b"' c\ d "e\"f\\g" "" x'y'z)", {R"(a "b")", "c d", R"(e"f\g)", "", "xyz"}},
        {"  \t ", {}},
    };
    for (const auto &c : cases) {
        QStringList words;
        EXPECT_TRUE(splitShellWords(QString::fromUtf8(c.line), &words)) << c.line;
        QStringList expected;
        for (const char *w : c.words)
            expected << QString::fromUtf8(w);
        EXPECT_EQ(words, expected) << c.line;
    }
    QStringList words;
    QString error;
    EXPECT_FALSE(splitShellWords(QStringLiteral("-o \"open {in}"), &words, &error));
    EXPECT_FALSE(error.isEmpty());
    // Replaced once: a private path that holds "{out}" stays as it is.
    EXPECT_EQ(extraToolArguments({QStringLiteral("--out={out}"), QStringLiteral("{in}")},
                                 QStringLiteral("/t/{out}.png"), QStringLiteral("/t/o.png")),
              (QStringList{QStringLiteral("--out=/t/o.png"), QStringLiteral("/t/{out}.png")}));
}

TEST(ExtraTools, SectionsAreReadUntilAGapAndWrittenWithoutOne)
{
    IniDocument doc = IniDocument::fromBytes(
        "; mine\r\n[ExtraTool1]\r\nUse=Yes\r\nName=z\r\nKind=PNG\r\nPath=/usr/bin/z\r\n"
        "Args={in} {out}\r\n[ExtraTool2]\r\nUse=Yes\r\nName=bad\r\nKind=GIF\r\nPath=/x\r\n"
        "Args={in}\r\n[ExtraTool3]\r\nUse=Yes\r\nName=j\r\nKind=JPEG\r\nPath=/j\r\n"
        "Args=-o {out}\r\n[ExtraTool5]\r\nName=after a gap\r\n[Other]\r\nKey=1\r\n");
    QStringList notes;
    const QList<ExtraTool> tools = readExtraTools(doc, &notes);
    ASSERT_EQ(tools.size(), 3);
    EXPECT_TRUE(tools.at(0).use);
    EXPECT_FALSE(tools.at(1).use); // a kind it cannot be
    EXPECT_FALSE(tools.at(2).use); // no {in}
    EXPECT_EQ(tools.at(2).kind, ImageKind::Jpeg);
    EXPECT_EQ(notes.size(), 2);

    writeExtraTools(doc, {tools.at(0)});
    const QByteArray text = doc.toBytes();
    EXPECT_TRUE(text.startsWith("; mine\r\n[ExtraTool1]\r\nUse=Yes\r\nName=z\r\nKind=PNG\r\n"
                                "Path=/usr/bin/z\r\nArgs={in} {out}\r\n[ExtraTool5]"))
        << text.constData();
    EXPECT_FALSE(text.contains("ExtraTool2")) << text.constData();
    EXPECT_FALSE(text.contains("ExtraTool3")) << text.constData();
    EXPECT_TRUE(text.contains("[ExtraTool5]") && text.contains("[Other]\r\nKey=1"));
    EXPECT_EQ(readExtraTools(doc), (QList<ExtraTool>{tools.at(0)}));
    // Quotes and blanks at the ends of a line come back as they were.
    const ExtraTool quoted{true, QStringLiteral(" q "), ImageKind::Jpeg, QStringLiteral("/q"),
                           QStringLiteral("'{in}' '{out}'")};
    writeExtraTools(doc, {tools.at(0), quoted});
    EXPECT_EQ(readExtraTools(doc), (QList<ExtraTool>{tools.at(0), quoted}));
}
