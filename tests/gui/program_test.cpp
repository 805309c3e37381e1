// The program started as a separate process, the way a user starts it twice.
#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using tinsoke::SingleInstanceGuard;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_runtime.isValid());
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_oldRuntime); }

    static std::unique_ptr<QProcess> startProgram() {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program->setProcessEnvironment(env);
        program->start(QStringLiteral(TINSOKE_PROGRAM), {});
        program->waitForStarted(30000);
        return program;
    }

    // True once a running copy holds the single-instance lock.
    static bool copyRuns() {
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            if (SingleInstanceGuard(QStringLiteral("PelmoraTinsoke")).anotherCopyRuns())
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
};

} // namespace

TEST_F(ProgramTest, SecondCopyEndsAtOnceSilentlyAndTheFirstRunsOn) {
    auto first = startProgram();
    ASSERT_TRUE(copyRuns());

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
    EXPECT_TRUE(copyRuns());
    EXPECT_EQ(third->state(), QProcess::Running);
    third->kill();
    third->waitForFinished(30000);
}
