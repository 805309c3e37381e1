#pragma once

// Shared by the tests that take the single-instance lock: each test gets a
// runtime folder of its own, so it neither sees nor disturbs a copy of the
// program that happens to run on this machine.

#include "singleinstance.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

class LockFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_oldRuntime); }

    // Waits until some other process holds the lock of that name.
    static bool becomesHeld(const QString &name)
    {
        using tinsoke::SingleInstanceGuard;
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            if (SingleInstanceGuard(name).anotherCopyRuns())
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
};
