// The Windows mechanisms with real Windows processes: tools started with
// CreateProcessW and a quoted command line, in a job object that none of
// theirs outlives; the verified writes through ReplaceFileW and MoveFileExW;
// and whole runs of the program itself with fake tools built as Windows
// programs. Real Windows optimizers are not at hand here; the fake tool
// stands in for every one of them.

#include "executeprocess.h"
#include "pictures.h"
#include "privatefiles.h"
#include "safewrite.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <windows.h>

namespace {

// A copy of the fake tool under name, doing what order says.
QString fakeTool(const QString &folder, const QString &name, const QString &order)
{
    QDir().mkpath(folder);
    const QString path = folder + u'/' + name + QStringLiteral(".exe");
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(FAKE_TOOL), path))
        return QString();
    writeBytes(folder + u'/' + name + QStringLiteral(".txt"), order.toUtf8() + "\r\n");
    return path;
}

// The process id a hanging fake tool wrote, once it is there.
DWORD pidFrom(const QString &pidFile)
{
    QDeadlineTimer deadline(60000);
    while (!QFileInfo::exists(pidFile) && !deadline.hasExpired())
        QTest::qWait(20);
    return bytesOf(pidFile).toULong();
}

// Whether the process has ended, waiting for it up to a generous bound.
bool ends(DWORD pid)
{
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true; // gone already
    const bool ended = ::WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

DWORD attributesOf(const QString &path)
{
    return ::GetFileAttributesW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
}

struct Result {
    int code;
    QString out;
    QString err;
};

} // namespace

class WindowsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString at(const QString &relative) const { return dir.filePath(relative); }

    Result runProgram(const QStringList &arguments)
    {
        QProcess p;
        p.start(QStringLiteral(TINSOKE_PROGRAM), arguments);
        if (!p.waitForFinished(120000))
            p.kill();
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QString settings(const QString &name, const QString &optipng) const
    {
        const QString path = at(name + QStringLiteral(".ini"));
        writeBytes(path, "[Option]\r\nSaveMode=0\r\nJobs=1\r\n[OptiPNG]\r\nUse=Yes\r\nPath=" +
                             optipng.toUtf8() + "\r\n");
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("TEMP", QFile::encodeName(QDir::toNativeSeparators(at(QStringLiteral("temp")))));
        QVERIFY(QDir().mkpath(at(QStringLiteral("temp"))));
        QCOMPARE(tinsoke::temporaryFolder(),
                 QFileInfo(at(QStringLiteral("temp"))).absoluteFilePath());
    }

    // Each argument reaches the tool as it was, however it is spelled: the
    // command line is quoted as CommandLineToArgvW reads it back; the
    // program's own path may hold blanks.
    void toolsGetTheirArgumentsAsWritten()
    {
        const QString record = at(QStringLiteral("args.txt"));
        const QString tool = fakeTool(at(QStringLiteral("my tools")), QStringLiteral("args"),
                                      QStringLiteral("args ") + record);
        const QStringList arguments{QStringLiteral("-o2"),
                                    QStringLiteral("two words"),
                                    QString(),
                                    QStringLiteral("say \"hi\""),
                                    QStringLiteral("C:\\folder with blanks\\"),
                                    QStringLiteral("a\\\\\"b"),
                                    QStringLiteral("tab\there"),
                                    QStringLiteral("画像 ファイル.png"),
                                    QStringLiteral("trailing\\")};
        tinsoke::RunningTools running;
        const tinsoke::ToolOutcome outcome =
            tinsoke::runToolProcess(tool, arguments, at(QStringLiteral("temp")), running);
        QVERIFY(outcome.started());
        QCOMPARE(outcome.exitCode, 0);
        QStringList written = QString::fromUtf8(bytesOf(record)).split(u'\n');
        written.removeLast();
        QCOMPARE(written, arguments);
    }

    // A missing program is told by Windows' own error number; a tool's exit
    // code and output come back; a crash is no success.
    void toolTroubleIsTold()
    {
        tinsoke::RunningTools running;
        const tinsoke::ToolOutcome missing = tinsoke::runToolProcess(
            at(QStringLiteral("temp/none.exe")), {}, at(QStringLiteral("temp")), running);
        QCOMPARE(missing.startError, int(ERROR_FILE_NOT_FOUND));
        QCOMPARE(tinsoke::startFailureMessage(ERROR_FILE_NOT_FOUND),
                 QStringLiteral("実行できません (2)"));

        const QString no =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("no"), QStringLiteral("exit 3"));
        const tinsoke::ToolOutcome refused = tinsoke::runToolProcess(
            no, {QStringLiteral("x.png")}, at(QStringLiteral("temp")), running);
        QVERIFY(refused.exited);
        QCOMPARE(refused.exitCode, 3);
        QVERIFY2(refused.output.contains("the fake tool says no"), refused.output.constData());

        const QString crash =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("crash"), QStringLiteral("crash"));
        const tinsoke::ToolOutcome crashed = tinsoke::runToolProcess(
            crash, {QStringLiteral("x.png")}, at(QStringLiteral("temp")), running);
        QCOMPARE(quint32(crashed.exitCode), quint32(EXCEPTION_ACCESS_VIOLATION));
    }

    // What a tool starts ends with it; a stop ends a running tool at once; and
    // when the program itself is killed outright, its job takes the tools along.
    void noToolOutlivesTheProgram()
    {
        const QString target = at(QStringLiteral("spawned.png"));
        const QString spawn =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("spawn"), QStringLiteral("spawn"));
        tinsoke::RunningTools running;
        const tinsoke::ToolOutcome spawned =
            tinsoke::runToolProcess(spawn, {target}, at(QStringLiteral("temp")), running);
        QCOMPARE(spawned.exitCode, 0);
        const DWORD child = pidFrom(target + QStringLiteral(".pid"));
        QVERIFY(child != 0);
        QVERIFY(ends(child));

        const QString stuck = at(QStringLiteral("stuck.png"));
        const QString hang =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("hang"), QStringLiteral("hang"));
        tinsoke::ToolOutcome stopped;
        std::thread worker([&] {
            stopped = tinsoke::runToolProcess(hang, {stuck}, at(QStringLiteral("temp")), running);
        });
        const DWORD hanging = pidFrom(stuck + QStringLiteral(".pid"));
        running.stopAll();
        worker.join();
        QVERIFY(stopped.stopped);
        QVERIFY(ends(hanging));

        // The program's own run, killed while its tool hangs.
        const QString picture = at(QStringLiteral("killed/a.png"));
        QVERIFY(savePicture(makePicture(60, 40), picture));
        const QByteArray before = bytesOf(picture);
        QProcess program;
        program.start(QStringLiteral(TINSOKE_PROGRAM),
                      {QStringLiteral("--run"), QStringLiteral("--settings"),
                       settings(QStringLiteral("hang"), hang), picture});
        QVERIFY(program.waitForStarted());
        // The tool works on a private copy, in the run's own folder.
        QDeadlineTimer deadline(60000);
        QString pidFile;
        while (pidFile.isEmpty() && !deadline.hasExpired()) {
            QTest::qWait(50);
            QDirIterator it(at(QStringLiteral("temp")), {QStringLiteral("*.pid")}, QDir::Files,
                            QDirIterator::Subdirectories);
            if (it.hasNext())
                pidFile = it.next();
        }
        QVERIFY(!pidFile.isEmpty());
        const DWORD tool = pidFrom(pidFile);
        program.kill(); // TerminateProcess: no chance to stop anything itself
        program.waitForFinished();
        QVERIFY(ends(tool));
        QCOMPARE(bytesOf(picture), before);
    }

    // New content takes a file's place only whole and flushed; the replaced
    // file keeps its attributes and modification time; a read-only file, a
    // taken name and another program's change are left as they are, and
    // nothing hidden stays behind.
    void verifiedWritesKeepWhatTheUserHad()
    {
        const QString folder = at(QStringLiteral("writes"));
        QDir().mkpath(folder);
        const QString settingsFile = folder + QStringLiteral("/new.ini");
        QVERIFY(tinsoke::writeFileVerified(settingsFile, "[Option]\r\n"));
        QCOMPARE(bytesOf(settingsFile), QByteArray("[Option]\r\n"));
        QCOMPARE(attributesOf(settingsFile) & FILE_ATTRIBUTE_HIDDEN, 0u);

        const QString user = folder + QStringLiteral("/user.png");
        const QString result = folder + QStringLiteral("/result.bin");
        writeBytes(user, QByteArray(5000, 'u'));
        writeBytes(result, QByteArray(3000, 'r'));
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-30);
        {
            QFile f(user);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const auto native = [](const QString &p) {
            return reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(p).utf16());
        };
        QVERIFY(::SetFileAttributesW(native(user), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM));
        const tinsoke::FileIdentity id = tinsoke::FileIdentity::of(user);
        tinsoke::WriteCheck check;
        check.expected = &id;
        QString why;
        QVERIFY2(tinsoke::replaceFileContent(user, result, &why, &check), qPrintable(why));
        QCOMPARE(bytesOf(user), QByteArray(3000, 'r'));
        QCOMPARE(attributesOf(user) & (FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN),
                 DWORD(FILE_ATTRIBUTE_SYSTEM));
        QCOMPARE(QFileInfo(user).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
        QVERIFY(check.written.sameAs(tinsoke::FileIdentity::of(user)));

        // Another program's change since the row began wins: the file is no
        // longer the one the row read.
        writeBytes(result, QByteArray(1000, 'n'));
        tinsoke::WriteCheck stale;
        stale.expected = &id;
        QVERIFY(!tinsoke::replaceFileContent(user, result, &why, &stale));
        QVERIFY(stale.changedMeanwhile);
        QCOMPARE(bytesOf(user), QByteArray(3000, 'r'));

        // A read-only file is not replaced.
        QVERIFY(::SetFileAttributesW(native(user), FILE_ATTRIBUTE_READONLY));
        QVERIFY(!tinsoke::replaceFileContent(user, result, &why));
        QVERIFY(!tinsoke::writeFileVerified(user, "x", &why));
        QCOMPARE(bytesOf(user), QByteArray(3000, 'r'));
        ::SetFileAttributesW(native(user), FILE_ATTRIBUTE_NORMAL);

        // A copy beside it: created once, a taken name left alone.
        const QString copy = folder + QStringLiteral("/user_.png");
        QCOMPARE(tinsoke::createFileVerified(copy, result, user, &why),
                 tinsoke::CreateResult::Created);
        QCOMPARE(bytesOf(copy), QByteArray(1000, 'n'));
        QCOMPARE(attributesOf(copy) & FILE_ATTRIBUTE_HIDDEN, 0u);
        QCOMPARE(tinsoke::createFileVerified(copy, user, user, &why), tinsoke::CreateResult::Taken);
        QCOMPARE(bytesOf(copy), QByteArray(1000, 'n'));

        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        QCOMPARE(left, (QStringList{QStringLiteral("new.ini"), QStringLiteral("result.bin"),
                                    QStringLiteral("user.png"), QStringLiteral("user_.png")}));
    }

    // The program over a folder with fake tools: a smaller result is taken
    // and told as a line; a tool that says no and one that crashes leave the
    // file byte-identical and are told, the row done all the same; a missing
    // tool is told by its error number and gives exit 1.
    void wholeRunsWithFakeTools()
    {
        const QImage picture = makePicture(160, 120, 5);
        const QString small = at(QStringLiteral("small.png"));
        QVERIFY(picture.save(small, "PNG", 0));
        const QString folder = at(QStringLiteral("run"));
        const QString a = folder + QStringLiteral("/a.png");
        QVERIFY(savePicture(picture, a));
        const qint64 sizeBefore = QFileInfo(a).size();
        const QString shrink = fakeTool(at(QStringLiteral("tools")), QStringLiteral("shrink"),
                                        QStringLiteral("copy ") + QDir::toNativeSeparators(small));
        const Result done = runProgram({QStringLiteral("--run"), QStringLiteral("--settings"),
                                        settings(QStringLiteral("shrink"), shrink), folder});
        QVERIFY2(done.code == 0, qPrintable(done.err));
        QCOMPARE(bytesOf(a), bytesOf(small));
        const QStringList lines = done.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QStringList fields = lines.first().trimmed().split(u'\t');
        QCOMPARE(fields.value(1), QString::number(sizeBefore));
        QCOMPARE(fields.value(2), QString::number(QFileInfo(small).size()));
        QCOMPARE(fields.value(4), QStringLiteral("OptiPNG"));
        QVERIFY(lines.last().startsWith(QStringLiteral("TOTAL\t1\t")));

        const QString b = folder + QStringLiteral("/b.png");
        QVERIFY(savePicture(picture, b));
        const QByteArray bBefore = bytesOf(b);
        const QString no =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("no"), QStringLiteral("exit 3"));
        const QString crash =
            fakeTool(at(QStringLiteral("tools")), QStringLiteral("crash"), QStringLiteral("crash"));
        for (const QString &tool : {no, crash, at(QStringLiteral("tools/none.exe"))}) {
            const Result r = runProgram({QStringLiteral("--run"), QStringLiteral("--force"),
                                         QStringLiteral("--settings"),
                                         settings(QFileInfo(tool).baseName(), tool), b});
            const bool missing = tool.endsWith(QStringLiteral("none.exe"));
            QVERIFY2(r.code == (missing ? 1 : 0), qPrintable(r.out + r.err));
            QCOMPARE(bytesOf(b), bBefore);
            QVERIFY2(r.err.contains(QStringLiteral("OptiPNG")), qPrintable(r.err));
            if (missing)
                QVERIFY2(r.err.contains(QStringLiteral("実行できません (2)")), qPrintable(r.err));
            if (tool == no)
                QVERIFY2(r.err.contains(QStringLiteral("終了コード 3")), qPrintable(r.err));
        }
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
