#include "ini.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tinsoke;

namespace {

IniDocument doc(const char *text)
{
    return IniDocument::fromBytes(QByteArray(text));
}

QString valueOr(const IniDocument &d, const char *section, const char *key)
{
    return d.value(QString::fromLatin1(section), QString::fromLatin1(key))
        .value_or(QStringLiteral("<missing>"));
}

// One value read from the file anew.
QString readValue(const QString &path, const char *section, const char *key)
{
    return loadIniFile(path)
        .value(QString::fromLatin1(section), QString::fromLatin1(key))
        .value_or(QString());
}

// One value written to the file anew, as a save does it: never over a file
// that could not be read.
bool writeValue(const QString &path, const char *section, const char *key, const QString &value)
{
    bool ok = false;
    IniDocument d = loadIniFile(path, &ok);
    if (!ok)
        return false;
    d.setValue(QString::fromLatin1(section), QString::fromLatin1(key), value);
    return saveIniFile(path, d);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(IniDocument, ReadsAsTheProfileFunctionsDo)
{
    const IniDocument d = doc("top=ignored\r\n"
                              "[Form]\r\n"
                              "  Top   =  12  \r\n"
                              "LEFT='quoted'\r\n"
                              "Name=\"a b\"\n"
                              "Mixed='x\"\n"
                              "novalue\r\n"
                              "Empty=\r\n"
                              "top=second\r\n"
                              "[form]\r\n"
                              "Other=later section\r\n");
    EXPECT_EQ(valueOr(d, "form", "TOP"), QStringLiteral("12"));
    EXPECT_EQ(valueOr(d, "Form", "Left"), QStringLiteral("quoted"));
    EXPECT_EQ(valueOr(d, "Form", "Name"), QStringLiteral("a b"));
    EXPECT_EQ(valueOr(d, "Form", "Mixed"), QStringLiteral("'x\""));
    EXPECT_EQ(valueOr(d, "Form", "Empty"), QString());
    EXPECT_EQ(valueOr(d, "Form", "novalue"), QStringLiteral("<missing>"));
    // The first of two sections of one name is the one that counts.
    EXPECT_EQ(valueOr(d, "Form", "Other"), QStringLiteral("<missing>"));
    EXPECT_EQ(valueOr(d, "Nothing", "Top"), QStringLiteral("<missing>"));
}

TEST(IniDocument, WritingTouchesOnlyTheKeysOwnLine)
{
    IniDocument d = doc("; a comment\r\n"
                        "[Set]\r\n"
                        "FittingThreshold =10\r\n"
                        "\r\n"
                        "[Option]\n"
                        "SaveMode =0\n"
                        "Unknown = kept \n"
                        "\r\n"
                        "[Other]\r\n"
                        "x=1");
    d.setValue(QStringLiteral("option"), QStringLiteral("SaveMode"), QStringLiteral("2"));
    d.setValue(QStringLiteral("Option"), QStringLiteral("NewKey"), QStringLiteral("v"));
    d.setValue(QStringLiteral("Other"), QStringLiteral("y"), QStringLiteral("2"));
    d.setValue(QStringLiteral("PNGOUT"), QStringLiteral("Use"), QStringLiteral("Yes"));
    d.setValue(QStringLiteral("PNGOUT"), QStringLiteral("Path"),
               QStringLiteral("/opt/写真/pngout"));
    EXPECT_EQ(d.toBytes(), QByteArray("; a comment\r\n"
                                      "[Set]\r\n"
                                      "FittingThreshold =10\r\n"
                                      "\r\n"
                                      "[Option]\n"
                                      "SaveMode=2\n"
                                      "Unknown = kept \n"
                                      "NewKey=v\r\n"
                                      "\r\n"
                                      "[Other]\r\n"
                                      "x=1\r\n"
                                      "y=2\r\n"
                                      "\r\n"
                                      "[PNGOUT]\r\n"
                                      "Use=Yes\r\n"
                                      "Path=/opt/写真/pngout\r\n"));
    EXPECT_EQ(valueOr(d, "pngout", "path"), QStringLiteral("/opt/写真/pngout"));
}

TEST(IniDocument, EmptyFileGetsItsFirstSection)
{
    IniDocument d = IniDocument::fromBytes(QByteArray());
    d.setValue(QStringLiteral("Option"), QStringLiteral("SaveMode"), QStringLiteral("-1"));
    EXPECT_EQ(d.toBytes(), QByteArray("[Option]\r\nSaveMode=-1\r\n"));
}

TEST(IniDocument, MalformedFilesComeBackByteForByte)
{
    QByteArray junk;
    QRandomGenerator rng(7);
    for (int i = 0; i < 20000; ++i)
        junk.append(static_cast<char>(rng.bounded(256)));
    const QByteArray samples[] = {
        junk,
        QByteArray("\xEF\xBB\xBF[Form]\r\nTop=5\r\n"),
        QByteArray("no sections at all\nkey=value\n"),
        QByteArray(100000, 'x') + "=" + QByteArray(100000, 'y') + "\r\n[",
        QByteArray("\r\r\n\n\0\0[Form\r\n=\r\n]\r\n", 16),
        QByteArray("[Form]\r\nTop=1\r\n[Form]\r\nTop=2\r\nTop=3"),
    };
    for (const QByteArray &sample : samples) {
        const IniDocument d = IniDocument::fromBytes(sample);
        EXPECT_EQ(d.toBytes(), sample);
        IniDocument changed = d;
        changed.setValue(QStringLiteral("Form"), QStringLiteral("Top"), QStringLiteral("9"));
        EXPECT_EQ(valueOr(changed, "Form", "Top"), QStringLiteral("9"));
        // Whatever else was there is still there.
        const QByteArray after = changed.toBytes();
        for (const QByteArray &line : sample.split('\n')) {
            if (!line.trimmed().toLower().startsWith("top")) {
                EXPECT_TRUE(after.contains(line));
            }
        }
    }
    // A byte-order mark does not hide the first section.
    EXPECT_EQ(valueOr(IniDocument::fromBytes(samples[1]), "Form", "Top"), QStringLiteral("5"));
}

TEST(IniValues, IntegersReadAsTheWindowsFunctionDoes)
{
    EXPECT_EQ(iniInteger(QStringLiteral("12")), 12);
    EXPECT_EQ(iniInteger(QStringLiteral("  -7px")), -7);
    EXPECT_EQ(iniInteger(QStringLiteral("+3")), 3);
    EXPECT_EQ(iniInteger(QStringLiteral("abc")), 0);
    EXPECT_EQ(iniInteger(QString()), 0);
    EXPECT_EQ(iniInteger(QStringLiteral("- 5")), 0);
    EXPECT_EQ(iniInteger(QStringLiteral("99999999999")), 2147483647);
    EXPECT_EQ(iniInteger(QStringLiteral("-99999999999")), -2147483647 - 1);
    EXPECT_EQ(iniText(-1), QStringLiteral("-1"));
}

TEST(IniValues, YesNoReadsEverythingElseAsYes)
{
    for (const char *yes : {"1", "Y", "yes", " ON ", "\tOn\x01", "", "TRUE", "FALSE", "2", "ja"})
        EXPECT_TRUE(iniBool(QString::fromLatin1(yes))) << yes;
    for (const char *no : {"0", "n", "No", "off", "  OFF  ", "\x1fno\x01"})
        EXPECT_FALSE(iniBool(QString::fromLatin1(no))) << no;
    EXPECT_EQ(iniText(true), QStringLiteral("Yes"));
    EXPECT_EQ(iniText(false), QStringLiteral("No"));
}

TEST(IniFile, RoutinesReadAndWriteTheFileAtomically)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows has no owner, group and other bits to keep";
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tinsoke.ini"));
    EXPECT_EQ(readValue(path, "A", "k"), QString());
    EXPECT_EQ(iniInteger(readValue(path, "A", "k")), 0);
    EXPECT_TRUE(iniBool(readValue(path, "A", "k")));

    const QString longPath = QStringLiteral("/") + QString(600, u'長');
    ASSERT_TRUE(writeValue(path, "A", "Path", longPath));
    ASSERT_TRUE(writeValue(path, "A", "Level", iniText(-3)));
    ASSERT_TRUE(writeValue(path, "B", "Use", iniText(false)));
    EXPECT_EQ(readValue(path, "a", "path"), longPath);
    EXPECT_EQ(iniInteger(readValue(path, "A", "Level")), -3);
    EXPECT_FALSE(iniBool(readValue(path, "B", "Use")));

    // The file keeps its permissions and no temporary file stays behind.
    ASSERT_TRUE(
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(writeValue(path, "B", "Use", iniText(true)));
    EXPECT_EQ(QFile::permissions(path) & 0x7077,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(IniFile, AFailedWriteLeavesNothingBehind)
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(writeValue(blocker + QStringLiteral("/x.ini"), "A", "k", QStringLiteral("v")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_TRUE(readAll(blocker).isEmpty());

    // What cannot be read is not replaced by a file holding only the new key.
    EXPECT_FALSE(writeValue(dir.path(), "A", "k", QStringLiteral("v")));
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
}
