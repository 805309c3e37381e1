// The program started as a separate process, the way a user starts it twice.
#include "lockfixture.h"
#include "programcopy.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ProgramTest : public LockFixture {
protected:
    static std::unique_ptr<QProcess> startProgram()
    {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program->setProcessEnvironment(env);
        program->start(programCopy(), {});
        program->waitForStarted(30000);
        return program;
    }
};

} // namespace

TEST_F(ProgramTest, SecondCopyEndsAtOnceSilentlyAndTheFirstRunsOn)
{
    auto first = startProgram();
    ASSERT_TRUE(becomesHeld(QStringLiteral("PelmoraTinsoke")));

    QElapsedTimer clock;
    clock.start();
    auto second = startProgram();
    ASSERT_TRUE(second->waitForFinished(30000));
    const qint64 seconds = clock.elapsed() / 1000;
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second->readAllStandardError().isEmpty());
    RecordProperty("second_copy_seconds", static_cast<int>(seconds));

    EXPECT_EQ(first->state(), QProcess::Running);
    first->kill();
    first->waitForFinished(30000);

    // Once the first copy has gone, the next start runs normally.
    auto third = startProgram();
    EXPECT_TRUE(becomesHeld(QStringLiteral("PelmoraTinsoke")));
    EXPECT_EQ(third->state(), QProcess::Running);
    third->kill();
    third->waitForFinished(30000);
}
