// The tool runner with real processes: start failures, waiting, responsiveness.
#include "commandline.h"
#include "executeprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Records what the runner reports and how often it lets events run.
class RecordingHost : public tinsoke::ToolRunHost {
public:
    void reportStartFailure(const QString &message) override { failures.append(message); }
    void processPendingEvents() override
    {
        ++pumps;
        QCoreApplication::processEvents();
    }
    QStringList failures;
    int pumps = 0;
};

bool writeScript(const QString &path, const QByteArray &body, bool executable = true)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(body);
    f.close();
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        p |= QFile::ExeOwner;
    return f.setPermissions(p);
}

QString read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class ExecuteProcessTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

private Q_SLOTS:
    void cannotStartShowsTheSystemErrorNumber()
    {
        QVERIFY(writeScript(path(QStringLiteral("noexec")), "#!/bin/sh\n", false));
        QVERIFY(writeScript(path(QStringLiteral("text.txt")), "just some words\n"));
        const struct {
            QString line;
            QString message;
        } cases[] = {
            {path(QStringLiteral("missing-tool")) + QStringLiteral(" -o2 \"/x.png\""),
             QStringLiteral("実行できません (2)")},
            {path(QStringLiteral("noexec")), QStringLiteral("実行できません (13)")},
            {path(QStringLiteral("text.txt")), QStringLiteral("実行できません (8)")},
            {QString(), QStringLiteral("実行できません (2)")},
            {QStringLiteral("   "), QStringLiteral("実行できません (2)")},
            {dir.path(), QStringLiteral("実行できません (13)")},
        };
        for (const auto &c : cases) {
            RecordingHost host;
            tinsoke::RunExternalTool(c.line, host);
            QCOMPARE(host.failures, QStringList{c.message});
            QCOMPARE(host.pumps, 0);
        }
    }

    void programPathWithBlanksNeedsNoQuotes()
    {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("x y")));
        const QString tool = path(QStringLiteral("x y/tool"));
        QVERIFY(writeScript(
            tool, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.args\"\n"));
        RecordingHost host;
        const QString working = path(QStringLiteral("it's [1] \"q\" 写真.png"));
        tinsoke::RunExternalTool(tinsoke::toolCommandLine(tinsoke::Tool::PNGCrush, tool,
                                                          QStringLiteral("-rem alla -l 9"), working,
                                                          QStringLiteral("/tmp/t.tmp")),
                                 host);
        QVERIFY(host.failures.isEmpty());
        QCOMPARE(read(tool + QStringLiteral(".args")),
                 QStringLiteral("[-rem][alla][-l][9][%1][/tmp/t.tmp]").arg(working));
    }

    void quickToolReturnsAtOnce()
    {
        RecordingHost host;
        tinsoke::RunExternalTool(QStringLiteral("/bin/true"), host);
        QVERIFY(host.failures.isEmpty());
        QVERIFY2(host.pumps <= 1, "a tool that ends at once needs no event slice");
    }

    void longToolKeepsEventsFlowing()
    {
        RecordingHost host;
        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        QElapsedTimer clock;
        clock.start();
        tinsoke::RunExternalTool(QStringLiteral("/bin/sleep 0.6"), host);
        const qint64 elapsed = clock.elapsed();
        QVERIFY(host.failures.isEmpty());
        QVERIFY(elapsed >= 550);  // it waited for the tool's end
        QVERIFY(host.pumps >= 3); // and let events run meanwhile
        QVERIFY(ticks >= 3);      // a timer of the program kept firing
    }

    void exitCodesAndCrashesChangeNothing()
    {
        for (const QString &line :
             {QStringLiteral("/bin/sh -c \"exit 3\""),
              QStringLiteral("/bin/sh -c \"kill -SEGV $$\""), QStringLiteral("/bin/false")}) {
            RecordingHost host;
            tinsoke::RunExternalTool(line, host);
            QVERIFY2(host.failures.isEmpty(), qPrintable(line));
        }
        // Every child has been waited for: none is left behind as a zombie.
        errno = 0;
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);
        QCOMPARE(errno, ECHILD);
    }

    void toolGetsNoInputAndNoneOfOurFiles()
    {
        // A descriptor of ours without close-on-exec must not reach the tool,
        // and a tool reading its input gets end-of-file instead of waiting.
        const int leaked = ::open("/dev/null", O_RDONLY);
        QVERIFY(leaked > 2);
        const QString out = path(QStringLiteral("fds"));
        RecordingHost host;
        tinsoke::RunExternalTool(
            QStringLiteral("/bin/sh -c \"cat; ls /proc/self/fd > '%1'\"").arg(out), host);
        ::close(leaked);
        const QStringList fds = read(out).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(!fds.isEmpty());
        QVERIFY2(!fds.contains(QString::number(leaked)), qPrintable(fds.join(u' ')));
    }
};

QTEST_GUILESS_MAIN(ExecuteProcessTest)
#include "executeprocess_test.moc"
