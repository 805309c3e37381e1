#include "paths.h"
#include "privatefiles.h"
#include "safewrite.h"
#include "trash.h"

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tinsoke;

// Paths in failures as text, not as lists of bytes.
static void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"' << bytes.toStdString() << '"';
}

namespace {

// Paths here are bytes, as the system has them: some names are not UTF-8.
QByteArray b(const QString &path)
{
    return bytesOfPath(path);
}

void put(const QByteArray &path, const QByteArray &bytes, mode_t mode = 0644)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
    ::chmod(path.constData(), mode);
}

QByteArray readAll(const QByteArray &path)
{
    QByteArray bytes;
    return readRegularFile(pathFromBytes(path), &bytes) ? bytes : QByteArray("<missing>");
}

struct stat statOf(const QByteArray &path)
{
    struct stat st {};
    ::lstat(path.constData(), &st);
    return st;
}

// A folder's entries, hidden ones included, for messages and emptiness.
std::string entries(const QByteArray &folder)
{
    return QDir(pathFromBytes(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name)
        .join(u' ')
        .toStdString();
}

const QDateTime When(QDate(2026, 12, 10), QTime(1, 2, 3));

// The Trash is found through $XDG_DATA_HOME; each test points it at its own folder.
class TrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_root = b(m_dir.path());
        m_oldData = qgetenv("XDG_DATA_HOME");
        m_hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_root + "/data");
        ::mkdir(m_root + "/private", 0700);
    }
    void TearDown() override
    {
        if (!m_mount.isEmpty())
            ::umount2(m_mount.constData(), MNT_DETACH);
        // By bytes: Qt's own removal cannot name the files that are no UTF-8.
        ::nftw(
            m_root.constData(),
            [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); },
            16, FTW_DEPTH | FTW_PHYS);
        if (m_hadData)
            qputenv("XDG_DATA_HOME", m_oldData);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    // A tmpfs of that size at root/mnt, or false (the test is skipped).
    bool mountSecond(const char *options)
    {
        const QByteArray target = m_root + "/mnt";
        ::mkdir(target.constData(), 0755);
        if (::mount("tmpfs", target.constData(), "tmpfs", 0, options) != 0)
            return false;
        m_mount = target;
        return true;
    }

    // The original at path and the run's private copy of it.
    QString original(const QByteArray &path, const QByteArray &bytes, mode_t mode = 0644)
    {
        put(path, bytes, mode);
        const QByteArray copy = m_root + "/private/copy" + QByteArray::number(++m_copies);
        put(copy, bytes, 0600);
        return pathFromBytes(copy);
    }

    QTemporaryDir m_dir;
    QByteArray m_root;
    QByteArray m_mount;
    QByteArray m_oldData;
    bool m_hadData = false;
    int m_copies = 0;
};

} // namespace

TEST_F(TrashTest, HomeTrashHasTheSharedLayoutAndUniqueNames)
{
    ASSERT_FALSE(m_root.contains('%') || m_root.contains(' '));
    ::mkdir(m_root + "/photos", 0755);
    ::mkdir(m_root + "/photos/two", 0755);
    const QByteArray trash = m_root + "/data/Trash";

    // Where it would go, and nothing made for the asking.
    const QByteArray spaced = m_root + "/photos/a b.jpg";
    const QString spacedCopy = original(spaced, "spaced", 0640);
    QString error;
    const auto wouldGo = trashFolderFor(pathFromBytes(spaced), false, &error);
    ASSERT_TRUE(wouldGo) << error.toStdString();
    EXPECT_EQ(b(wouldGo->path), trash);
    EXPECT_TRUE(wouldGo->topDir.isEmpty());
    EXPECT_FALSE(wouldGo->exists);
    EXPECT_FALSE(QDir(pathFromBytes(m_root + "/data")).exists());

    // A space, Japanese letters and a byte that is no UTF-8, each escaped.
    const struct {
        QByteArray name, encoded;
    } names[] = {{"a b.jpg", "a%20b.jpg"},
                 {"写真.png", "%E5%86%99%E7%9C%9F.png"},
                 {"x\xff.jpg", "x%FF.jpg"}};
    for (const auto &n : names) {
        const QByteArray path = m_root + "/photos/" + n.name;
        const QString copy =
            n.name == "a b.jpg" ? spacedCopy : original(path, "bytes of " + n.name);
        const auto entry = putCopyInTrash(pathFromBytes(path), copy, When, &error);
        ASSERT_TRUE(entry) << error.toStdString();
        EXPECT_EQ(b(entry->name), n.name);
        EXPECT_EQ(readAll(trash + "/info/" + n.name + ".trashinfo"),
                  "[Trash Info]\nPath=" + m_root + "/photos/" + n.encoded +
                      "\nDeletionDate=2026-12-10T01:02:03\n");
        EXPECT_EQ(readAll(trash + "/files/" + n.name), readAll(path));
        EXPECT_EQ(statOf(trash + "/files/" + n.name).st_mode, statOf(path).st_mode);
        EXPECT_EQ(statOf(trash + "/files/" + n.name).st_mtim.tv_sec, statOf(path).st_mtim.tv_sec);
        const auto back = readTrashEntry(entry->infoPath(), &error);
        ASSERT_TRUE(back) << error.toStdString();
        EXPECT_EQ(b(back->originalPath), path);
        EXPECT_EQ(back->deletedAt, When);
    }
    EXPECT_EQ(statOf(trash).st_mode & 07777, 0700u);

    // Two originals of one name; a copy left without its info file holds its name too.
    put(trash + "/files/same.jpg", "a stale copy");
    const QString one = original(m_root + "/photos/same.jpg", "one");
    const QString two = original(m_root + "/photos/two/same.jpg", "two");
    const auto first =
        putCopyInTrash(pathFromBytes(m_root + "/photos/same.jpg"), one, When, &error);
    const auto second =
        putCopyInTrash(pathFromBytes(m_root + "/photos/two/same.jpg"), two, When, &error);
    ASSERT_TRUE(first && second) << error.toStdString();
    EXPECT_EQ(first->name, QStringLiteral("same 2.jpg"));
    EXPECT_EQ(second->name, QStringLiteral("same 3.jpg"));
    EXPECT_EQ(readAll(trash + "/files/same 3.jpg"), "two");
    EXPECT_EQ(readAll(trash + "/files/same.jpg"), "a stale copy");
    EXPECT_EQ(statOf(trash + "/info/same.jpg.trashinfo").st_mode, 0u);

    // A name as long as the system allows still leaves room for ".trashinfo".
    const QByteArray longName = QByteArray(240, 'a') + "写.jpg";
    const QString longCopy = original(m_root + "/photos/" + longName, "long");
    const auto cut =
        putCopyInTrash(pathFromBytes(m_root + "/photos/" + longName), longCopy, When, &error);
    ASSERT_TRUE(cut) << error.toStdString();
    EXPECT_EQ(b(cut->name), QByteArray(240, 'a') + ".jpg")
        << "cut before the letter, not inside it";
    EXPECT_EQ(readAll(b(cut->filePath())), "long");
}

TEST_F(TrashTest, AnotherFileSystemUsesItsTopFolderWithTheChecks)
{
    if (!mountSecond("size=1m,mode=0755"))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs the superuser): " << strerror(errno);
    const QByteArray uid = QByteArray::number(::getuid());
    ::mkdir(m_mount + "/sub", 0755);
    const QByteArray path = m_mount + "/sub/p.jpg";
    QString error;

    // No shared Trash: the user's own one, made on first use, the path recorded from the top.
    const QString copy = original(path, "original");
    const auto wouldGo = trashFolderFor(pathFromBytes(path), false, &error);
    ASSERT_TRUE(wouldGo) << error.toStdString();
    EXPECT_EQ(b(wouldGo->path), m_mount + "/.Trash-" + uid);
    EXPECT_EQ(b(wouldGo->topDir), m_mount);
    EXPECT_FALSE(wouldGo->exists);
    EXPECT_EQ(entries(m_mount), "sub");
    const auto own = putCopyInTrash(pathFromBytes(path), copy, When, &error);
    ASSERT_TRUE(own) << error.toStdString();
    EXPECT_EQ(b(own->folder), m_mount + "/.Trash-" + uid);
    EXPECT_EQ(statOf(m_mount + "/.Trash-" + uid).st_mode & 07777, 0700u);
    EXPECT_EQ(readAll(b(own->infoPath())),
              "[Trash Info]\nPath=sub/p.jpg\nDeletionDate=2026-12-10T01:02:03\n");
    EXPECT_EQ(b(readTrashEntry(own->infoPath())->originalPath), path);
    EXPECT_EQ(readAll(b(own->filePath())), "original");

    // A shared .Trash with the sticky bit: the user's folder in it.
    ASSERT_EQ(::mkdir(m_mount + "/.Trash", 0777), 0);
    ::chmod(m_mount + "/.Trash", 01777);
    const auto shared = putCopyInTrash(pathFromBytes(path), copy, When, &error);
    ASSERT_TRUE(shared) << error.toStdString();
    EXPECT_EQ(b(shared->folder), m_mount + "/.Trash/" + uid);
    EXPECT_EQ(statOf(m_mount + "/.Trash/" + uid).st_mode & 07777, 0700u);
    EXPECT_EQ(readAll(b(shared->infoPath())),
              "[Trash Info]\nPath=sub/p.jpg\nDeletionDate=2026-12-10T01:02:03\n");
    EXPECT_EQ(b(readTrashEntry(shared->infoPath())->originalPath), path);

    // Without the sticky bit, or as a link, it is passed over.
    ::chmod(m_mount + "/.Trash", 0777);
    auto passed = putCopyInTrash(pathFromBytes(path), copy, When, &error);
    ASSERT_TRUE(passed) << error.toStdString();
    EXPECT_EQ(b(passed->folder), m_mount + "/.Trash-" + uid) << "no sticky bit";
    ASSERT_EQ(::rename(m_mount + "/.Trash", m_mount + "/elsewhere"), 0);
    ::chmod(m_mount + "/elsewhere", 01777);
    ASSERT_EQ(::symlink("elsewhere", m_mount + "/.Trash"), 0);
    passed = putCopyInTrash(pathFromBytes(path), copy, When, &error);
    ASSERT_TRUE(passed) << error.toStdString();
    EXPECT_EQ(b(passed->folder), m_mount + "/.Trash-" + uid) << "a link";
    EXPECT_EQ(entries(m_mount + "/elsewhere/" + uid + "/files"), "p.jpg") << "only the first";

    // The user's own Trash as a link: no Trash, and nothing made through it.
    ::unlink(m_mount + "/.Trash");
    ASSERT_EQ(::rename(m_mount + "/.Trash-" + uid, m_mount + "/moved"), 0);
    ASSERT_EQ(::symlink("moved", m_mount + "/.Trash-" + uid), 0);
    error.clear();
    EXPECT_FALSE(putCopyInTrash(pathFromBytes(path), copy, When, &error));
    EXPECT_FALSE(trashFolderFor(pathFromBytes(path), false));
    EXPECT_TRUE(error.contains(QStringLiteral("リンク"))) << error.toStdString();
    EXPECT_EQ(entries(m_mount + "/moved/files"), "p 2.jpg p 3.jpg p.jpg");
    EXPECT_EQ(readAll(path), "original");
}

TEST_F(TrashTest, AFullTrashLeavesNothingBehindAndSaysWhy)
{
    if (!mountSecond("size=64k,mode=0755"))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs the superuser): " << strerror(errno);
    const QByteArray path = m_mount + "/big.png";
    put(path, "the original on the small disk");
    const QByteArray copy = m_root + "/private/big";
    put(copy, QByteArray(1 << 20, 'x'), 0600); // the bytes that do not fit
    QString error;
    EXPECT_FALSE(putCopyInTrash(pathFromBytes(path), pathFromBytes(copy), When, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ごみ箱に入れられません"))) << error.toStdString();
    EXPECT_TRUE(error.contains(qt_error_string(ENOSPC))) << error.toStdString();
    const QByteArray trash = m_mount + "/.Trash-" + QByteArray::number(::getuid());
    EXPECT_EQ(entries(trash + "/files"), "");
    EXPECT_EQ(entries(trash + "/info"), "");
    EXPECT_EQ(readAll(path), "the original on the small disk");
}

TEST_F(TrashTest, RestoreGivesTheOriginalBackUnlessTheFileChangedSince)
{
    ::mkdir(m_root + "/photos", 0755);
    const QByteArray path = m_root + "/photos/r.jpg";
    const QByteArray otherName = m_root + "/photos/r-link.jpg";
    const QByteArray edited = m_root + "/photos/e.jpg";
    const QByteArray originalBytes = "the original, with its comments";
    QString error;

    // The run: the original to the Trash, then the smaller result over it.
    const auto run = [&](const QByteArray &target, FileIdentity *written) {
        const auto entry = putCopyInTrash(pathFromBytes(target),
                                          original(target, originalBytes, 0640), When, &error);
        const QByteArray result = m_root + "/private/result";
        put(result, "smaller");
        WriteCheck check;
        EXPECT_TRUE(
            replaceFileContent(pathFromBytes(target), pathFromBytes(result), &error, &check))
            << error.toStdString();
        *written = check.written;
        return entry;
    };
    FileIdentity written;
    auto entry = run(path, &written);
    ASSERT_TRUE(entry) << error.toStdString();
    ASSERT_EQ(::link(path.constData(), otherName.constData()), 0); // kept in its own inode
    written = FileIdentity::of(pathFromBytes(path));
    const ino_t inode = statOf(path).st_ino;
    EXPECT_EQ(restoreFromTrash(*entry, pathFromBytes(path), written, &error),
              RestoreResult::Restored)
        << error.toStdString();
    EXPECT_EQ(readAll(path), originalBytes);
    EXPECT_EQ(readAll(otherName), originalBytes);
    EXPECT_EQ(statOf(path).st_ino, inode);
    EXPECT_EQ(statOf(path).st_mode & 07777, 0640u);
    EXPECT_EQ(statOf(b(entry->filePath())).st_mode, 0u) << "the entry leaves the Trash";
    EXPECT_EQ(statOf(b(entry->infoPath())).st_mode, 0u);

    // Edited after the run: the edit wins and the entry stays, readable by a later start.
    entry = run(edited, &written);
    ASSERT_TRUE(entry) << error.toStdString();
    put(edited, "the user's edit", 0640);
    EXPECT_EQ(restoreFromTrash(*entry, pathFromBytes(edited), written, &error),
              RestoreResult::ChangedMeanwhile);
    EXPECT_EQ(readAll(edited), "the user's edit");
    EXPECT_EQ(readAll(b(entry->filePath())), originalBytes);
    const auto later = readTrashEntry(entry->infoPath(), &error);
    ASSERT_TRUE(later) << error.toStdString();
    EXPECT_EQ(later->filePath(), entry->filePath());
    EXPECT_TRUE(removeTrashEntry(*later, &error)) << error.toStdString();
    EXPECT_EQ(entries(b(entry->folder) + "/files"), "");
    EXPECT_EQ(entries(b(entry->folder) + "/info"), "");
}
