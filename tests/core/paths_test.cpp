#include "paths.h"

#include <gtest/gtest.h>

using tinsoke::fileExtension;
using tinsoke::settingsFilePathFor;

TEST(SettingsFilePath, ReplacesTheExtensionOfTheExecutable)
{
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/opt/tools/opt.exe")),
              QStringLiteral("/opt/tools/opt.ini"));
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/x/a.b.c")), QStringLiteral("/x/a.b.ini"));
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/x/opt.")), QStringLiteral("/x/opt.ini"));
}

TEST(SettingsFilePath, AppendsWhenTheNameHasNoExtension)
{
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/usr/local/bin/pelmora-tinsoke")),
              QStringLiteral("/usr/local/bin/pelmora-tinsoke.ini"));
    // A dot in a folder name is not the file's extension.
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/home/u/my.tools/opt")),
              QStringLiteral("/home/u/my.tools/opt.ini"));
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/home/u/v1.2/")),
              QStringLiteral("/home/u/v1.2/.ini"));
}

TEST(SettingsFilePath, KeepsEveryOtherCharacter)
{
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/ツール 置き場/最適化 (1).App")),
              QStringLiteral("/ツール 置き場/最適化 (1).ini"));
}

TEST(FileExtension, IsTheTextFromTheLastDotOfTheName)
{
    EXPECT_EQ(fileExtension(QStringLiteral("/a/B.JPG")), QStringLiteral(".JPG"));
    EXPECT_EQ(fileExtension(QStringLiteral("/a/b.tar.png")), QStringLiteral(".png"));
    EXPECT_EQ(fileExtension(QStringLiteral("/a.jpg/b")), QString());
    EXPECT_EQ(fileExtension(QStringLiteral("/a/.png")), QStringLiteral(".png"));
    EXPECT_EQ(fileExtension(QString()), QString());
}
