#include "lockfixture.h"
#include "singleinstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using tinsoke::SingleInstanceGuard;
using State = SingleInstanceGuard::State;

namespace {

class SingleInstanceTest : public LockFixture {
protected:
    static std::unique_ptr<QProcess> startProbe(const QString &name, int holdMs)
    {
        auto probe = std::make_unique<QProcess>();
        probe->start(QStringLiteral(GUARD_PROBE), {name, QString::number(holdMs)});
        probe->waitForStarted(30000);
        return probe;
    }

    static QString outputOf(QProcess &probe)
    {
        probe.waitForFinished(30000);
        return QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
    }
};

} // namespace

TEST_F(SingleInstanceTest, SecondGuardIsRefusedUntilTheFirstIsGone)
{
    auto first = std::make_unique<SingleInstanceGuard>(QStringLiteral("PelmoraTinsoke"));
    ASSERT_EQ(first->state(), State::Acquired);
    EXPECT_TRUE(SingleInstanceGuard(QStringLiteral("PelmoraTinsoke")).anotherCopyRuns());
    // Another name is another lock.
    EXPECT_EQ(SingleInstanceGuard(QStringLiteral("Other")).state(), State::Acquired);

    first.reset();
    EXPECT_EQ(SingleInstanceGuard(QStringLiteral("PelmoraTinsoke")).state(), State::Acquired);
}

TEST_F(SingleInstanceTest, ARunningProcessKeepsOthersOut)
{
    auto holder = startProbe(QStringLiteral("PelmoraTinsoke"), 60000);
    ASSERT_TRUE(becomesHeld(QStringLiteral("PelmoraTinsoke")));

    auto second = startProbe(QStringLiteral("PelmoraTinsoke"), 0);
    EXPECT_EQ(outputOf(*second), QStringLiteral("held"));
    EXPECT_EQ(holder->state(), QProcess::Running);

    // The lock goes with its process, however that process ends.
    holder->kill();
    holder->waitForFinished(30000);
    auto third = startProbe(QStringLiteral("PelmoraTinsoke"), 0);
    EXPECT_EQ(outputOf(*third), QStringLiteral("acquired"));
}

TEST_F(SingleInstanceTest, CopiesStartedTogetherHaveOneWinner)
{
    // The winner holds the lock until every copy has answered, so a copy that
    // is slow to start (a loaded machine, Wine) still finds it held.
    for (int round = 0; round < 3; ++round) {
        const QString name = QStringLiteral("Race%1").arg(round);
        std::vector<std::unique_ptr<QProcess>> probes;
        for (int i = 0; i < 6; ++i)
            probes.push_back(startProbe(name, 60000));
        int winners = 0;
        int losers = 0;
        QString said;
        for (auto &probe : probes) {
            while (!probe->canReadLine() && probe->state() != QProcess::NotRunning)
                probe->waitForReadyRead(30000);
            const QString answer = QString::fromLocal8Bit(probe->readLine()).trimmed();
            said += answer + QLatin1Char(' ');
            winners += answer == QStringLiteral("acquired") ? 1 : 0;
            losers += answer == QStringLiteral("held") ? 1 : 0;
        }
        for (auto &probe : probes) {
            probe->kill();
            probe->waitForFinished(30000);
        }
        EXPECT_EQ(winners, 1) << "round " << round << ": " << said.toStdString();
        EXPECT_EQ(losers, 5) << "round " << round << ": " << said.toStdString();
    }
}

TEST_F(SingleInstanceTest, APlantedLinkIsNotFollowed)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "the lock is a named mutex there, no file to plant";
#endif
    // Someone else's link at the lock's place must not make us create or
    // lock the file it points to; the program then runs without the guard.
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(
        QFile::link(target, QDir(m_runtime.path()).filePath(QStringLiteral("Planted.lock"))));

    EXPECT_EQ(SingleInstanceGuard(QStringLiteral("Planted")).state(), State::Unavailable);
    EXPECT_FALSE(QFile::exists(target));
}
