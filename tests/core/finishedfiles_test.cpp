// The memory of finished files on its own: shared by two users of one file,
// bounded, and never trusted when a later version wrote it.
#include "finishedfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#ifndef Q_OS_WIN
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace tinsoke;

namespace {

QByteArray digestOf(int n)
{
    return QCryptographicHash::hash(QByteArray::number(n), QCryptographicHash::Blake2b_256);
}

const QByteArray Chain = digestOf(-1);

} // namespace

TEST(FinishedFiles, TwoUsersShareItAndItStaysBounded)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("finished.db"));
    FinishedFiles first(path, 5);
    FinishedFiles second(path, 5);
    const StatKey entry{1, 2, 3, 4, 5};
    first.remember(digestOf(0), Chain, {entry});
    first.flush();
    EXPECT_TRUE(second.knownByStat(entry, Chain));
    EXPECT_TRUE(second.knownByDigest(digestOf(0), Chain));
    EXPECT_FALSE(second.knownByDigest(digestOf(0), digestOf(-2))); // another chain
    StatKey touched = entry;
    touched.changedNs += 1;
    EXPECT_FALSE(second.knownByStat(touched, Chain));

    for (int n = 1; n <= 9; ++n)
        second.remember(digestOf(n), Chain, {StatKey{1, quint64(10 + n), 3, 4, 5}});
    second.flush();
    int known = 0;
    for (int n = 0; n <= 9; ++n)
        known += first.knownByDigest(digestOf(n), Chain);
    EXPECT_EQ(known, 5);
    EXPECT_TRUE(first.takeProblem().isEmpty());
    EXPECT_TRUE(second.takeProblem().isEmpty());
}

// A memory that knows digest 0, then changed by another version's SQL.
static bool memoryChangedBy(const QString &path, const char *sql)
{
    {
        FinishedFiles memory(path);
        memory.remember(digestOf(0), Chain, {});
    }
    sqlite3 *db = nullptr;
    const bool changed = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
                         sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return changed;
}

TEST(FinishedFiles, ALaterVersionsMemoryIsLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("finished.db"));
    ASSERT_TRUE(memoryChangedBy(path, "PRAGMA user_version=3"));
    sqlite3 *db = nullptr;

    FinishedFiles later(path);
    EXPECT_FALSE(later.knownByDigest(digestOf(0), Chain));
    later.remember(digestOf(1), Chain, {});
    EXPECT_TRUE(later.takeProblem().contains(QStringLiteral("新しい版")));
    EXPECT_TRUE(later.takeProblem().isEmpty()); // told once
    later.flush();
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".broken")));
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    sqlite3_stmt *count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM finished", -1, &count, nullptr);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 1); // nothing written into it
    sqlite3_finalize(count);
    sqlite3_close(db);
}

// A memory an earlier version wrote, before overwrites kept a way back,
// keeps what it knew and takes the way back from now on.
TEST(FinishedFiles, AnEarlierLayoutKeepsWhatItKnewAndLearnsTheWayBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("finished.db"));
    ASSERT_TRUE(memoryChangedBy(
        path, "DROP TABLE runs; DROP TABLE undo; DROP TABLE reverted; PRAGMA user_version=1"));

    FinishedFiles earlier(path);
    EXPECT_TRUE(earlier.knownByDigest(digestOf(0), Chain));
    const qint64 run = earlier.newRun();
    ASSERT_GT(run, 0);
    ASSERT_TRUE(earlier.rememberUndo(
        {run, QStringLiteral("/a.png"), QStringLiteral("/t/files/a.png"),
         QStringLiteral("/t/info/a.png.trashinfo"), digestOf(1), digestOf(2)}));
    ASSERT_EQ(earlier.undoRecords().size(), 1u);
    EXPECT_EQ(earlier.undoRecords({QStringLiteral("/a.png")}).at(0).written, digestOf(1));
    EXPECT_TRUE(earlier.newRun() > run && earlier.undoRecords().empty()); // the last run's only
    EXPECT_TRUE(earlier.takeProblem().isEmpty());
}

// Two first runs at once (parallel -j2 on a new machine): both wait for
// each other as every later open does, and both keep what they learnt.
TEST(FinishedFiles, TwoFirstRunsAtOnceBothKeepIt)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "the two runs are forked: Windows has no fork";
#else
    QTemporaryDir dir;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const QString path = dir.filePath(QStringLiteral("%1/finished.db").arg(round));
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        pid_t runs[2];
        for (int run = 0; run < 2; ++run) {
            runs[run] = ::fork();
            if (runs[run] == 0) {
                char c;
                (void)!::read(go[0], &c, 1);
                // One file per run, as parallel starts them: opens and closes race.
                for (int file = 0; file < 15; ++file) {
                    FinishedFiles memory(path);
                    const StatKey key{1, quint64(run * 100 + file), 3, 4, 5};
                    memory.knownByStat(key, Chain);
                    memory.remember(digestOf(run * 100 + file), Chain, {key});
                    memory.flush();
                    if (!memory.takeProblem().isEmpty())
                        ::_exit(1);
                }
                ::_exit(0);
            }
        }
        ASSERT_EQ(::write(go[1], "gg", 2), 2);
        for (const pid_t run : runs) {
            int status = -1;
            ::waitpid(run, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run lost the memory";
        }
        ::close(go[0]);
        ::close(go[1]);
        FinishedFiles after(path);
        EXPECT_TRUE(after.knownByDigest(digestOf(14), Chain));
        EXPECT_TRUE(after.knownByDigest(digestOf(114), Chain));
    }
#endif
}

// A memory cut short, which opens but fails at its first look: kept aside
// as finished.db.broken-DATE, a new one made at once, and the next run
// finds it whole.
TEST(FinishedFiles, ATruncatedMemoryIsSetAsideAndMadeAnew)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("finished.db"));
    {
        FinishedFiles memory(path);
        for (int n = 0; n < 3000; ++n)
            memory.remember(digestOf(n), Chain, {StatKey{1, quint64(n), 3, 4, 5}});
    }
    {
        sqlite3 *db = nullptr; // the WAL folded in, so the cut hits the file itself
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    QFile file(path);
    ASSERT_TRUE(file.resize(file.size() / 2));

    {
        FinishedFiles damaged(path);
        EXPECT_FALSE(damaged.knownByStat(StatKey{1, 2999, 3, 4, 5}, Chain));
        EXPECT_FALSE(damaged.knownByDigest(digestOf(2999), Chain));
        damaged.remember(digestOf(-5), Chain, {});
        const QString told = damaged.takeProblem();
        EXPECT_TRUE(told.contains(QStringLiteral(".broken-"))) << qPrintable(told);
    }
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("finished.db.broken-*")}).size(), 1);
    FinishedFiles next(path);
    EXPECT_TRUE(next.knownByDigest(digestOf(-5), Chain));
    EXPECT_TRUE(next.takeProblem().isEmpty());
}
