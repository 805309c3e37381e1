// The tool runner with real processes: what a tool starts with, what comes
// back from it, and that nothing of ours leaks into it.
#include "executeprocess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <QRegularExpression>
#include <QThread>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString writeScript(const QString &path, const QByteArray &body, bool executable = true)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        p |= QFile::ExeOwner;
    f.setPermissions(p);
    return path;
}

// Alive, and not a zombie left for its parent to collect.
bool alive(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    return status.open(QIODevice::ReadOnly) && !status.readAll().contains("State:\tZ");
}

volatile sig_atomic_t handlerRan = 0;
void markHandler(int)
{
    handlerRan = 1;
}

} // namespace

class ExecuteProcessTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

private Q_SLOTS:
    void startFailuresGiveTheSystemsNumber()
    {
        tinsoke::RunningTools running;
        const QString plain =
            writeScript(path(QStringLiteral("plain")), "true", /*executable=*/false);
        QCOMPARE(tinsoke::runToolProcess(path(QStringLiteral("none")), {}, {}, running).startError,
                 ENOENT);
        QCOMPARE(tinsoke::runToolProcess(plain, {}, {}, running).startError, EACCES);
        QCOMPARE(tinsoke::runToolProcess(dir.path(), {}, {}, running).startError, EACCES);
        QCOMPARE(tinsoke::startFailureMessage(2), QStringLiteral("実行できません (2)"));
        // A bare name is looked up along PATH.
        QCOMPARE(tinsoke::runToolProcess(QStringLiteral("true"), {}, {}, running).exitCode, 0);
    }

    // Arguments arrive as they are, one each; the tool runs in the folder it
    // is given, with no input, default signals, nothing blocked, and a
    // process group of its own; its output comes back, bounded.
    void whatAToolStartsWithAndGivesBack()
    {
        // A handler of ours and a blocked signal must not reach the tool.
        std::signal(SIGUSR1, markHandler);
        std::signal(SIGPIPE, SIG_IGN);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

        const QString tool = writeScript(
            path(QStringLiteral("probe")),
            "for a; do echo \"[$a]\"; done; pwd; read x && echo got-input\n"
            "grep -E '^(SigBlk|SigIgn|Cpus_allowed_list)' /proc/self/status\n"
            "echo pgid=$(($(ps -o pgid= -p $$))) pid=$$; kill -USR1 $$; echo survived; exit 7");
        tinsoke::RunningTools running;
        const QStringList args{QStringLiteral("a b"), QStringLiteral("\"q\""), QString(),
                               QStringLiteral("写真 it's.png")};
        const tinsoke::ToolOutcome o = tinsoke::runToolProcess(tool, args, dir.path(), running);
        const QString out = QString::fromLocal8Bit(o.output);
        QVERIFY2(out.startsWith(QStringLiteral("[a b]\n[\"q\"]\n[]\n[写真 it's.png]\n") +
                                dir.path() + u'\n'),
                 qPrintable(out));
        QVERIFY(!out.contains(QStringLiteral("got-input")));
        QVERIFY2(out.contains(QStringLiteral("SigBlk:\t0000000000000000")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("SigIgn:\t0000000000000000")));
        // The processors are the program's, whichever one started the tool.
        QFile status(QStringLiteral("/proc/self/status"));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QRegularExpression cpus(QStringLiteral("Cpus_allowed_list:\\s*(\\S+)"));
        QCOMPARE(cpus.match(out).captured(1),
                 cpus.match(QString::fromLatin1(status.readAll())).captured(1));
        QVERIFY(!out.contains(QStringLiteral("survived"))); // SIGUSR1 did its default: it ended
        QVERIFY(!o.exited);
        QCOMPARE(o.signal, SIGUSR1);
        QCOMPARE(handlerRan, 0);
        const QRegularExpressionMatch ids =
            QRegularExpression(QStringLiteral("pgid=(\\d+) pid=(\\d+)")).match(out);
        QVERIFY(ids.hasMatch());
        QCOMPARE(ids.captured(1), ids.captured(2));
        pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
        std::signal(SIGUSR1, SIG_DFL);

        // Megabytes of output neither stall the tool nor grow without bound.
        const QString loud = writeScript(path(QStringLiteral("loud")),
                                         "head -c 5000000 /dev/zero | tr '\\0' x; exit 4");
        const tinsoke::ToolOutcome l = tinsoke::runToolProcess(loud, {}, {}, running);
        QCOMPARE(l.exitCode, 4);
        QCOMPARE(l.output.size(), tinsoke::ToolOutputLimit);
        QVERIFY(l.outputCut);
    }

    // A stop ends the tool and anything it started, at once; no tool
    // starts after it.
    void stopEndsTheWholeGroup()
    {
        tinsoke::RunningTools running;
        const QString pidFile = path(QStringLiteral("child.pid"));
        const QString tool =
            writeScript(path(QStringLiteral("slow")),
                        "sleep 30 & echo $! > '" + QFile::encodeName(pidFile) + "'; wait");
        QElapsedTimer clock;
        clock.start();
        std::thread stopper([&] {
            QThread::msleep(500);
            running.stopAll();
        });
        const tinsoke::ToolOutcome o = tinsoke::runToolProcess(tool, {}, {}, running);
        stopper.join();
        QVERIFY(o.stopped);
        QVERIFY(clock.elapsed() < 5000);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const pid_t child = f.readAll().trimmed().toInt();
        QTRY_VERIFY(!alive(child)); // the tool's own child is gone too
        QVERIFY(tinsoke::runToolProcess(QStringLiteral("true"), {}, {}, running).stopped);
    }

    // The processes that run tools for our threads come and go with the
    // threads; one ended from outside takes its tool along and is made anew.
    void theGuardsGoWithTheirThreadsAndComeBack()
    {
        const int before = childCount();
        std::vector<std::thread> threads;
        std::atomic<int> ok{0};
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                tinsoke::RunningTools running;
                for (int i = 0; i < 3; ++i)
                    ok +=
                        tinsoke::runToolProcess(QStringLiteral("true"), {}, {}, running).exitCode ==
                        0;
            });
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(ok.load(), 12);
        QCOMPARE(childCount(), before); // neither running nor left to be collected

        const QString pidFile = path(QStringLiteral("guard.pid"));
        const QString tool =
            writeScript(path(QStringLiteral("waits")),
                        "echo $PPID $$ > '" + QFile::encodeName(pidFile) + ".part'; mv '" +
                            QFile::encodeName(pidFile) + ".part' '" + QFile::encodeName(pidFile) +
                            "'; sleep 30");
        tinsoke::RunningTools running;
        pid_t toolPid = 0;
        std::thread killer([&] {
            QFile f(pidFile);
            for (int i = 0; i < 500 && !f.exists(); ++i)
                QThread::msleep(10);
            f.open(QIODevice::ReadOnly);
            const QList<QByteArray> ids = f.readAll().trimmed().split(' ');
            toolPid = ids.value(1).toInt();
            ::kill(ids.value(0).toInt(), SIGKILL);
        });
        QElapsedTimer clock;
        clock.start();
        const tinsoke::ToolOutcome o = tinsoke::runToolProcess(tool, {}, {}, running);
        killer.join();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!o.exited);
        QVERIFY(toolPid > 0);
        QTRY_VERIFY(!alive(toolPid));
        QCOMPARE(tinsoke::runToolProcess(QStringLiteral("true"), {}, {}, running).exitCode, 0);
    }

private:
    static int childCount()
    {
        int count = 0;
        for (const QString &task :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile f(QStringLiteral("/proc/self/task/%1/children").arg(task));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray pids = f.readAll().simplified();
                count += pids.isEmpty() ? 0 : int(pids.count(' ')) + 1;
            }
        }
        return count;
    }
};

QTEST_GUILESS_MAIN(ExecuteProcessTest)
#include "executeprocess_test.moc"
