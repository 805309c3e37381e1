#include "ini.h"
#include "privatefiles.h"
#include "safewrite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tinsoke;

namespace {

QByteArray noise(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->generate());
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// The folder's entries, hidden ones included, sorted and joined for messages.
std::string entries(const QString &folder)
{
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)
        .join(u' ')
        .toStdString();
}

enum Outcome { FailedWithReason, ClaimedSuccess, FailedSilently, Crashed = -1 };

// Runs what in a child process whose files may not grow past limit bytes: a
// write past it fails with EFBIG, as it would on a full disk.
int withSizeLimit(rlim_t limit, const std::function<bool(QString *)> &what)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit rl {
            limit, limit
        };
        ::setrlimit(RLIMIT_FSIZE, &rl);
        QString error;
        const bool ok = what(&error);
        ::_exit(ok ? ClaimedSuccess : error.isEmpty() ? FailedSilently : FailedWithReason);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : Crashed;
}

} // namespace

TEST(SafeWrite, AFullDiskLeavesEveryFileAsItWas)
{
    QTemporaryDir userDir;
    QTemporaryDir privateDir;
    const QString settings = userDir.filePath(QStringLiteral("pelmora-tinsoke.ini"));
    const QString single = userDir.filePath(QStringLiteral("single.png"));
    const QString linked = userDir.filePath(QStringLiteral("linked.png"));
    const QString otherName = userDir.filePath(QStringLiteral("other-name.png"));
    const QString created = userDir.filePath(QStringLiteral("a_.png"));
    const QString result = privateDir.filePath(QStringLiteral("result.png"));
    const QString smallResult = privateDir.filePath(QStringLiteral("small.png"));

    put(settings, "[Form]\r\nTop=1\r\n");
    put(single, noise(60000));
    put(linked, noise(60000));
    ASSERT_EQ(
        ::link(QFile::encodeName(linked).constData(), QFile::encodeName(otherName).constData()), 0);
    put(result, noise(40000));
    put(smallResult, noise(10000)); // under 16 KB: it would sit in a write buffer
    const QByteArray settingsBefore = readAll(settings);
    const QByteArray singleBefore = readAll(single);
    const QByteArray linkedBefore = readAll(linked);
    const struct timespec linkedTime = statOf(linked).st_mtim;
    const std::string before = entries(userDir.path());

    IniDocument doc = IniDocument::fromBytes(settingsBefore);
    doc.setValue(QStringLiteral("Form"), QStringLiteral("Path"), QString(10000, u'x'));
    // The settings routine gives no reason; the window says what failed.
    EXPECT_EQ(withSizeLimit(4096, [&](QString *) { return saveIniFile(settings, doc); }),
              FailedSilently);
    EXPECT_EQ(withSizeLimit(
                  4096, [&](QString *e) { return writeFileVerified(settings, doc.toBytes(), e); }),
              FailedWithReason);
    EXPECT_EQ(
        withSizeLimit(16384, [&](QString *e) { return replaceFileContent(single, result, e); }),
        FailedWithReason);
    EXPECT_EQ(
        withSizeLimit(16384, [&](QString *e) { return replaceFileContent(linked, result, e); }),
        FailedWithReason);
    EXPECT_EQ(withSizeLimit(4096,
                            [&](QString *e) {
                                return createFileVerified(created, smallResult, single, e) ==
                                       CreateResult::Created;
                            }),
              FailedWithReason);

    EXPECT_EQ(readAll(settings), settingsBefore);
    EXPECT_EQ(readAll(single), singleBefore);
    EXPECT_EQ(readAll(linked), linkedBefore);
    EXPECT_EQ(readAll(otherName), linkedBefore);
    EXPECT_EQ(statOf(linked).st_mtim.tv_sec, linkedTime.tv_sec);
    EXPECT_EQ(statOf(linked).st_mtim.tv_nsec, linkedTime.tv_nsec);
    EXPECT_EQ(entries(userDir.path()), before) << "a temporary or partial file was left";
}

TEST(SafeWrite, AReplacedFileKeepsWhatTheUserHad)
{
    QTemporaryDir userDir;
    QTemporaryDir privateDir;
    const QString result = privateDir.filePath(QStringLiteral("result.png"));
    put(result, noise(5000));
    const QByteArray name("user.tinsoke.note");

    for (const bool twoLinks : {false, true}) {
        SCOPED_TRACE(twoLinks ? "two hard links" : "one name");
        const QString path =
            userDir.filePath(twoLinks ? QStringLiteral("b.png") : QStringLiteral("a.png"));
        const QString second = userDir.filePath(QStringLiteral("b-link.png"));
        put(path, noise(8000));
        const QByteArray native = QFile::encodeName(path);
        if (twoLinks) {
            ASSERT_EQ(::link(native.constData(), QFile::encodeName(second).constData()), 0);
        }
        ASSERT_EQ(::chmod(native.constData(), 0640), 0);
        const bool withAttribute =
            ::setxattr(native.constData(), name.constData(), "kept", 4, 0) == 0;
        // The superuser can hand the file to someone else; the owner must then stay.
        const bool givenAway = ::geteuid() == 0 && ::chown(native.constData(), 65534, 65534) == 0;
        const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), times, 0), 0);
        const struct stat before = statOf(path);

        QString error;
        ASSERT_TRUE(replaceFileContent(path, result, &error)) << qPrintable(error);
        const struct stat after = statOf(path);
        EXPECT_EQ(readAll(path), readAll(result));
        if (twoLinks) {
            EXPECT_EQ(readAll(second), readAll(result));
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
        EXPECT_EQ(after.st_mtim.tv_nsec, 123456789);
        if (givenAway) {
            EXPECT_EQ(after.st_uid, 65534u);
        }
        if (withAttribute) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(native.constData(), name.constData(), value, sizeof value), 4);
            EXPECT_STREQ(value, "kept");
        }
    }
    EXPECT_EQ(entries(userDir.path()), "a.png b-link.png b.png") << "a temporary file was left";

    // A new file takes nothing's place, not even a dead link's, and keeps the
    // original's mode and time; FIFOs are refused without blocking.
    const QString original = userDir.filePath(QStringLiteral("a.png"));
    const QString dead = userDir.filePath(QStringLiteral("dead_.png"));
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dead).constData()), 0);
    EXPECT_EQ(createFileVerified(dead, result, original), CreateResult::Taken);
    const QString made = userDir.filePath(QStringLiteral("a_.png"));
    ASSERT_EQ(createFileVerified(made, result, original), CreateResult::Created);
    EXPECT_EQ(statOf(made).st_mode & 07777, 0640u);
    EXPECT_EQ(statOf(made).st_mtim.tv_nsec, 123456789);
    const QString fifo = privateDir.filePath(QStringLiteral("fifo.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString error;
    EXPECT_FALSE(replaceFileContent(original, fifo, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(replaceFileContent(fifo, result));
    QByteArray bytes;
    EXPECT_FALSE(readRegularFile(fifo, &bytes));
}

// A kill at any moment of a write into the user's folder, then a later
// start: the file holds its old bytes or its new ones, never a mix; a copy
// is whole or gone; no hidden file and no dead run's folder is left.
TEST(SafeWrite, AKillAtAnyMomentLeavesOldOrNewAndALaterStartClearsUp)
{
    QTemporaryDir temp;
    QTemporaryDir userDir;
    const QByteArray savedTemp = qgetenv("TEMP");
    qputenv("TEMP", QFile::encodeName(temp.path()));
    const QString source = temp.filePath(QStringLiteral("new.png"));
    const QByteArray old = noise(12 << 20);
    const QByteArray fresh = noise(8 << 20);
    put(source, fresh);
    const QString target = userDir.filePath(QStringLiteral("a.png"));
    const QString link = userDir.filePath(QStringLiteral("a-link.png"));
    const QString copy = userDir.filePath(QStringLiteral("a_.png"));

    // Whether a record of an in-place write stands in a run's journal now.
    const auto recordStands = [&] {
        for (const QString &run :
             QDir(temp.path())
                 .entryList({QStringLiteral("pelmora-*")}, QDir::Dirs | QDir::Hidden)) {
            const QString journal = temp.filePath(run + QStringLiteral("/journal"));
            for (const QString &name : QDir(journal).entryList({QStringLiteral("record-*")}))
                if (readAll(journal + u'/' + name).startsWith("inplace"))
                    return true;
        }
        return false;
    };

    enum Mode { Linked, OneName, Copy };
    constexpr qint64 Never = -1;
    constexpr qint64 WhileRecorded = -2;
    // Runs one write in a child that is killed after delay, or once an
    // in-place record stands; the time it took.
    const auto writeKilled = [&](Mode mode, qint64 delayUs) {
        QFile::remove(copy);
        QFile::remove(link);
        put(target, old);
        if (mode == Linked) {
            EXPECT_EQ(
                ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
                0);
        }
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            QString error;
            const auto folder = RunFolder::create(&error);
            (void)!::write(ready[1], "r", 1);
            const bool ok =
                folder &&
                (mode == Copy
                     ? createFileVerified(copy, source, target, &error, folder->journal()) ==
                           CreateResult::Created
                     : replaceFileContent(target, source, &error, nullptr, folder->journal()));
            ::_exit(ok ? 0 : 1);
        }
        char c;
        EXPECT_EQ(::read(ready[0], &c, 1), 1);
        QElapsedTimer clock;
        clock.start();
        if (delayUs == WhileRecorded) {
            while (!recordStands() && clock.elapsed() < 5000) {
            }
        } else if (delayUs >= 0) {
            ::usleep(useconds_t(delayUs));
        }
        if (delayUs != Never)
            ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        return clock.nsecsElapsed() / 1000;
    };

    for (const Mode mode : {Linked, OneName, Copy}) {
        const qint64 whole = writeKilled(mode, Never);
        for (int step = 0; step <= 8; ++step) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", killed at " << step << "/8");
            writeKilled(mode, whole * step / 8);
            QString error;
            RunFolder::create(&error).reset(); // a later start
            const QByteArray now = readAll(target);
            EXPECT_TRUE(now == old || (mode != Copy && now == fresh)) << now.size() << " bytes";
            if (mode == Linked) {
                EXPECT_TRUE(readAll(link) == now);
            }
            if (mode == Copy && QFile::exists(copy)) {
                EXPECT_TRUE(readAll(copy) == fresh);
            }
            EXPECT_FALSE(entries(userDir.path()).find(".tinsoke-") != std::string::npos)
                << entries(userDir.path());
            EXPECT_EQ(entries(temp.path()), "new.png");
        }
    }

    // Killed while rewriting in place; then the user saves a new file at the
    // name (renamed into place) or edits it in place. A later start puts old
    // bytes back only into the very file the run was writing, as it left it.
    const QByteArray users = "the user's own new picture, 136 bytes or so";
    for (const bool renamed : {true, false}) {
        SCOPED_TRACE(renamed ? "a new file renamed into place" : "an edit in place");
        bool killedMidway = false;
        for (int attempt = 0; attempt < 20 && !killedMidway; ++attempt) {
            writeKilled(Linked, WhileRecorded);
            killedMidway = recordStands();
        }
        ASSERT_TRUE(killedMidway);
        if (renamed) {
            const QString part = userDir.filePath(QStringLiteral("a.png.part"));
            put(part, users);
            ASSERT_TRUE(QFile::remove(target) && QFile::rename(part, target));
        } else {
            QFile f(target);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.resize(users.size()));
            ASSERT_EQ(f.write(users), users.size());
        }
        QString error;
        RunFolder::create(&error).reset(); // a later start, over nothing of its own
        EXPECT_EQ(readAll(target), users);
        EXPECT_EQ(entries(temp.path()), "new.png");
    }
    qputenv("TEMP", savedTemp);
}

// A file of another owner, rewritten by a member of its group: it stays
// the owner's. Only the superuser can set this up.
TEST(SafeWrite, AFileOfAnotherOwnerStaysTheirs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs the superuser to make the owners";
    QTemporaryDir shared;
    const QByteArray folder = QFile::encodeName(shared.path());
    ASSERT_EQ(::chown(folder.constData(), 1111, 1234), 0);
    ASSERT_EQ(::chmod(folder.constData(), 02775), 0);
    const QString path = shared.filePath(QStringLiteral("group.png"));
    const QString source = shared.filePath(QStringLiteral("result.png"));
    put(path, noise(9000));
    put(source, noise(4000));
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 1111, 1234), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0664), 0);
    const ino_t inode = statOf(path).st_ino;

    const pid_t pid = ::fork();
    if (pid == 0) {
        const gid_t group = 1234;
        if (::setgroups(1, &group) != 0 || ::setresgid(1234, 1234, 1234) != 0 ||
            ::setresuid(2222, 2222, 2222) != 0)
            ::_exit(3);
        QString error;
        ::_exit(replaceFileContent(path, source, &error) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const struct stat after = statOf(path);
    EXPECT_EQ(after.st_uid, 1111u);
    EXPECT_EQ(after.st_gid, 1234u);
    EXPECT_EQ(after.st_ino, inode) << "rewritten in its own inode";
    EXPECT_EQ(readAll(path), readAll(source));
    EXPECT_EQ(entries(shared.path()), "group.png result.png");
}
