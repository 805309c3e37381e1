#include "filelistmodel.h"
#include "intake.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tinsoke;

namespace {

void touch(const QString &path, int bytes = 3)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(QByteArray(bytes, 'x'));
}

// The same walk written plainly: entries in the order the system lists them.
void referenceWalk(const QString &folder, QStringList &out)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &e : entries) {
        if (e.isDir())
            referenceWalk(folder + u'/' + e.fileName(), out);
        else
            out.append(folder + u'/' + e.fileName());
    }
}

} // namespace

TEST(Intake, OnlyJpgJpegAndPngNamesQualify)
{
    for (const char *yes :
         {"/a/A.JPG", "/a/b.png", "/a/c.Png", "/a.b/x.jpg", "/a/.png", "/a/x.jpeg", "/a/X.JpEg"})
        EXPECT_TRUE(isListableImage(QString::fromUtf8(yes))) << yes;
    for (const char *no : {"/a/a.jpe", "/a/a.gif", "/a/a.bmp", "/a/png", "/a/jpeg", "/a.png/x",
                           "/a/a.png.bak", "/a/a.jpeg.bak", ""})
        EXPECT_FALSE(isListableImage(QString::fromUtf8(no))) << no;
    // The list applies the same rule.
    for (const char *name :
         {"/a/A.JPG", "/a/.png", "/a/a.JPEG", "/a/jpeg", "/a.png/x", "/a/a.png.bak", "/a/a.jpe"}) {
        FileListModel list;
        list.addFiles({QString::fromUtf8(name)});
        EXPECT_EQ(list.rowCount() == 1, isListableImage(QString::fromUtf8(name))) << name;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("A.JPG"));
    touch(path, 1234);
    FileListModel list;
    list.addFiles(
        {path, dir.filePath(QStringLiteral("a.jpeg")), dir.filePath(QStringLiteral("b"))});
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.ReadRow(1).FileName, QStringLiteral("a.jpeg"));
    const TLVData row = list.ReadRow(0);
    EXPECT_EQ(row.FileName, QStringLiteral("A.JPG"));
    EXPECT_EQ(row.Size, QStringLiteral("1234"));
    EXPECT_EQ(row.Path, path);
    for (int c = 2; c <= 9; ++c)
        EXPECT_TRUE(row.field(c).isEmpty());
}

TEST(Intake, SizesComeFromTheDirectoryEntry)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f.png"));
    touch(file, 10);
    EXPECT_EQ(GetFileSizeBytes(file), 10);
    EXPECT_EQ(GetFileSizeBytes(dir.filePath(QStringLiteral("gone.png"))), 0);
    EXPECT_EQ(GetFileSizeBytes(dir.path()), 0);
    ASSERT_TRUE(QFile::link(file, dir.filePath(QStringLiteral("link.png"))));
    EXPECT_EQ(GetFileSizeBytes(dir.filePath(QStringLiteral("link.png"))), 10);
    // Past 2 and 4 GiB the size is still true (a sparse file takes no room).
    QFile big(dir.filePath(QStringLiteral("big.png")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(Q_INT64_C(5) * 1024 * 1024 * 1024 + 7));
    big.close();
    EXPECT_EQ(GetFileSizeBytes(big.fileName()), Q_INT64_C(5368709127));
    FileListModel list;
    list.addFiles({big.fileName()});
    EXPECT_EQ(list.ReadRow(0).Size, QStringLiteral("5368709127"));
}

TEST(FolderWalk, DepthFirstInSystemOrderHiddenIncluded)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    for (const char *p : {"a.png", ".hidden.jpg", "sub/b.jpg", "sub/deeper/c.png", "sub/.h/d.png",
                          "sub/zz.txt", "写真 [1]/it's \"e\" 😀.png", "z.jpg", "empty/"}) {
        const QString path = root + u'/' + QString::fromUtf8(p);
        if (path.endsWith(u'/'))
            QDir().mkpath(path);
        else
            touch(path);
    }
    QStringList walked;
    FindFiles(root, walked);
    QStringList expected;
    referenceWalk(root, expected);
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(walked.size(), 8);

    // A trailing separator changes nothing.
    QStringList again;
    FindFiles(root + u'/', again);
    EXPECT_EQ(again, expected);

    QStringList none;
    FindFiles(root + QStringLiteral("/missing"), none);
    EXPECT_TRUE(none.isEmpty());
}

TEST(FolderWalk, StaysInsideTheDroppedFolder)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/photos");
    const QString outside = dir.path() + QStringLiteral("/elsewhere");
    touch(root + QStringLiteral("/top.png"));
    touch(root + QStringLiteral("/a/b/deep.png"));
    touch(outside + QStringLiteral("/notmine.png"));
    ASSERT_TRUE(QFile::link(QStringLiteral(".."), root + QStringLiteral("/up")));
    ASSERT_TRUE(QFile::link(root, root + QStringLiteral("/a/b/to-root")));
    ASSERT_TRUE(QFile::link(outside, root + QStringLiteral("/a/side")));
    ASSERT_TRUE(
        QFile::link(outside + QStringLiteral("/notmine.png"), root + QStringLiteral("/away.png")));
    ASSERT_TRUE(
        QFile::link(root + QStringLiteral("/a/b/deep.png"), root + QStringLiteral("/near.png")));
    ASSERT_TRUE(
        QFile::link(root + QStringLiteral("/nowhere"), root + QStringLiteral("/broken.png")));

    QStringList walked;
    // Folder links, the link out and the dead one are left out and counted.
    EXPECT_EQ(FindFiles(root, walked), 5);
    walked.sort();
    EXPECT_EQ(walked,
              QStringList({root + QStringLiteral("/a/b/deep.png"),
                           root + QStringLiteral("/near.png"), root + QStringLiteral("/top.png")}));

    // What is dropped itself is taken, a link to a folder too.
    FileListModel list;
    EXPECT_EQ(DropFiles(list, {root + QStringLiteral("/a/side")}), 0);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.ReadRow(0).Path, root + QStringLiteral("/a/side/notmine.png"));
}

TEST(DropFiles, ItemsKeepTheirOrderAndFoldersTheirPlace)
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.png"));
    const QString last = dir.filePath(QStringLiteral("last.JPG"));
    touch(first);
    touch(last);
    touch(dir.filePath(QStringLiteral("folder.png/inside.png")));
    touch(dir.filePath(QStringLiteral("folder.png/skip.gif")));
    FileListModel list;
    DropFiles(list, {last, dir.filePath(QStringLiteral("folder.png")), first,
                     dir.filePath(QStringLiteral("gone.png")), last});
    ASSERT_EQ(list.rowCount(), 4);
    EXPECT_EQ(list.ReadRow(0).Path, last);
    EXPECT_EQ(list.ReadRow(1).Path, dir.filePath(QStringLiteral("folder.png/inside.png")));
    EXPECT_EQ(list.ReadRow(2).Path, first);
    EXPECT_EQ(list.ReadRow(3).Size, QStringLiteral("0")); // gone before its size was read
}

// A FIFO, a socket and a link to a device are no pictures: listing one would
// let a run open it and wait for ever.
TEST(FolderWalk, OnlyRegularFilesAreListed)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    touch(root + QStringLiteral("/real.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + QStringLiteral("/fifo.png")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), root + QStringLiteral("/zero.png")));
    ASSERT_TRUE(
        QFile::link(root + QStringLiteral("/fifo.png"), root + QStringLiteral("/to-fifo.png")));
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(root + QStringLiteral("/socket.png"));
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    tinsoke::FileListModel list;
    tinsoke::DropFiles(list, {root, root + QStringLiteral("/fifo.png")});
    ::close(s);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.ReadRow(0).Path, root + QStringLiteral("/real.png"));
}
