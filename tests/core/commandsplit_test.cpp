#include "commandsplit.h"

#include <gtest/gtest.h>

#include <set>

using tinsoke::splitArguments;
using tinsoke::splitCommandLine;

TEST(SplitArguments, BlanksSeparateAndQuotesGroup)
{
    EXPECT_EQ(splitArguments(QStringLiteral("  a\tb   c ")),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(splitArguments(QStringLiteral("-o2 \"/a b/c.png\"")),
              (QStringList{QStringLiteral("-o2"), QStringLiteral("/a b/c.png")}));
    EXPECT_EQ(splitArguments(QStringLiteral("x\"y z\"w")), QStringList{QStringLiteral("xy zw")});
    EXPECT_EQ(splitArguments(QStringLiteral("\"\" a \"\"")),
              (QStringList{QString(), QStringLiteral("a"), QString()}));
    EXPECT_EQ(splitArguments(QStringLiteral("\"unclosed arg")),
              QStringList{QStringLiteral("unclosed arg")});
    EXPECT_EQ(splitArguments(QString()), QStringList());
}

TEST(SplitArguments, BackslashesEscapeOnlyBeforeAQuote)
{
    EXPECT_EQ(splitArguments(QStringLiteral("a\\b c\\\\d")),
              (QStringList{QStringLiteral("a\\b"), QStringLiteral("c\\\\d")}));
    EXPECT_EQ(splitArguments(QStringLiteral("a\\\"b")), QStringList{QStringLiteral("a\"b")});
    EXPECT_EQ(splitArguments(QStringLiteral("\"a\\\\\" b")),
              (QStringList{QStringLiteral("a\\"), QStringLiteral("b")}));
}

TEST(SplitCommandLine, UnquotedProgramWithBlanksIsTheShortestExistingPrefix)
{
    std::set<QString> files{QStringLiteral("/tmp/x y/tool")};
    const auto isFile = [&](const QString &p) {
        return files.count(p) > 0;
    };

    auto cmd = splitCommandLine(QStringLiteral("/tmp/x y/tool -o2 \"/a b.png\""), isFile);
    EXPECT_EQ(cmd.program, QStringLiteral("/tmp/x y/tool"));
    EXPECT_EQ(cmd.arguments, (QStringList{QStringLiteral("-o2"), QStringLiteral("/a b.png")}));

    // A shorter prefix that names a file wins, as on Windows.
    files.insert(QStringLiteral("/tmp/x"));
    cmd = splitCommandLine(QStringLiteral("/tmp/x y/tool -o2"), isFile);
    EXPECT_EQ(cmd.program, QStringLiteral("/tmp/x"));
    EXPECT_EQ(cmd.arguments, (QStringList{QStringLiteral("y/tool"), QStringLiteral("-o2")}));

    // Nothing exists: the first word, which then fails to start.
    cmd = splitCommandLine(QStringLiteral("/no such/tool a"), isFile);
    EXPECT_EQ(cmd.program, QStringLiteral("/no"));
    EXPECT_EQ(cmd.arguments, (QStringList{QStringLiteral("such/tool"), QStringLiteral("a")}));
}

TEST(SplitCommandLine, QuotedProgramAndEmptyLines)
{
    const auto none = [](const QString &) {
        return false;
    };
    auto cmd = splitCommandLine(QStringLiteral("\"/a b/tool\" -x"), none);
    EXPECT_EQ(cmd.program, QStringLiteral("/a b/tool"));
    EXPECT_EQ(cmd.arguments, QStringList{QStringLiteral("-x")});

    EXPECT_TRUE(splitCommandLine(QString(), none).program.isEmpty());
    EXPECT_TRUE(splitCommandLine(QStringLiteral("   "), none).program.isEmpty());
    cmd = splitCommandLine(QStringLiteral("  tool  "), none);
    EXPECT_EQ(cmd.program, QStringLiteral("tool"));
    EXPECT_TRUE(cmd.arguments.isEmpty());
}
