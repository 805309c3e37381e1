#include "paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tinsoke;
using namespace Qt::Literals::StringLiterals;

namespace {

QString makeFile(const QString &path, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.setPermissions(executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
    return path;
}

} // namespace

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

TEST(SettingsFilePath, BesideAProgramWhoseFolderTakesFilesElseTheUsersOwn)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "on Windows the settings are always beside the .exe";
#endif
    QTemporaryDir dir;
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
    const QString users = dir.filePath(u"config/pelmora-tinsoke/pelmora-tinsoke.ini"_s);
    EXPECT_EQ(settingsFilePath(dir.filePath(u"pelmora-tinsoke"_s)),
              dir.filePath(u"pelmora-tinsoke.ini"_s));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty()); // no probe left
    // Folders nothing can be made in, not even by root: /proc, and a "folder" that is a file.
    EXPECT_EQ(settingsFilePath(u"/proc/pelmora-tinsoke"_s), users);
    EXPECT_EQ(settingsFilePath(makeFile(dir.filePath(u"file"_s), false) + u"/x"_s), users);
    // Installed, with its menu entry in the prefix: the user's, though root could write beside it.
    QDir().mkpath(dir.filePath(u"usr/bin"_s));
    makeFile(dir.filePath(u"usr/share/applications/pelmora-tinsoke.desktop"_s), false);
    EXPECT_EQ(settingsFilePath(dir.filePath(u"usr/bin/pelmora-tinsoke"_s)), users);
    qputenv("XDG_CONFIG_HOME", "relative"); // not a place the variable may name
    EXPECT_EQ(userSettingsFilePath(),
              QDir::homePath() + u"/.config/pelmora-tinsoke/pelmora-tinsoke.ini"_s);
    qputenv("XDG_CONFIG_HOME", config);
}

TEST(ToolPrograms, FoundOnPathOnlyAsExecutableFilesInAbsoluteFolders)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows finds programs by their extension, not an execute bit";
#endif
    QTemporaryDir dir;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    makeFile(dir.filePath(u"here/optipng"_s), true); // reached only through "here", relative
    makeFile(dir.filePath(u"plain/optipng"_s), false);
    QDir().mkpath(dir.filePath(u"folder/optipng"_s));
    const QString found = makeFile(dir.filePath(u"found/optipng"_s), true);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(u"here::%1/plain:%1/folder:%1/found"_s.arg(dir.path())));
    EXPECT_EQ(findProgramOnPath(u"optipng"_s), found);
    EXPECT_EQ(findProgramOnPath(u"pngout"_s), QString());
    qputenv("PATH", path);
    QDir::setCurrent(cwd);
}

TEST(CommandLine, PathsAreMadeAbsoluteAndOptionsPassedOver)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "\"/p/b.jpg\" is no absolute path on Windows (no drive)";
#endif
    const QStringList words{u"a.png"_s, u"-x"_s, u""_s, u"/p/q/../b.jpg"_s, u"--"_s, u"-c.png"_s};
    EXPECT_EQ(pathsFromArguments(words, u"/home/u"_s),
              (QStringList{u"/home/u/a.png"_s, u"/p/b.jpg"_s, u"/home/u/-c.png"_s}));
}
