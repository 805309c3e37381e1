// The memory of finished files on its own: shared by two users of one file,
// bounded, and never trusted when a later version wrote it.
#include "finishedfiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

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

TEST(FinishedFiles, ALaterVersionsMemoryIsLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("finished.db"));
    {
        FinishedFiles memory(path);
        memory.remember(digestOf(0), Chain, {});
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

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
