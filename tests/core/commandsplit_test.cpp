#include "commandsplit.h"

#include <gtest/gtest.h>

using tinsoke::splitArguments;

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
