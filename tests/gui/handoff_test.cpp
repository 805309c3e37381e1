// A second start of the real program while this test holds the lock and
// listens as the running copy does: its files reach the window's list.
#include "appinfo.h"
#include "filelistmodel.h"
#include "freshform.h"
#include "pathhandoff.h"
#include "paths.h"
#include "programcopy.h"
#include "singleinstance.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

class HandoffTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    QTemporaryDir files;

    // The program started from the files' folder, run to its end while this
    // test's event loop goes on (a shell may start it, to give it bytes).
    std::unique_ptr<QProcess> startSecond(const QStringList &arguments,
                                          const QString &command = programCopy())
    {
        auto program = std::make_unique<QProcess>();
        program->setWorkingDirectory(files.path());
        QSignalSpy finished(program.get(), &QProcess::finished);
        program->start(command, arguments);
        finished.wait(60000);
        return program;
    }
    QString make(const QString &name)
    {
        QDir().mkpath(QFileInfo(files.filePath(name)).absolutePath());
        QFile f(files.filePath(name));
        f.open(QIODevice::WriteOnly);
        return f.fileName();
    }

private Q_SLOTS:
    void secondStartHandsItsFilesOverAndEndsQuietly()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const tinsoke::SingleInstanceGuard guard(tinsoke::singleInstanceName());
        QCOMPARE(guard.state(), tinsoke::SingleInstanceGuard::State::Acquired);
        FreshForm fresh;
        auto server = std::make_unique<PathHandoffServer>();
        connect(server.get(), &PathHandoffServer::pathsReceived, fresh.get(), &TForm1::addPaths);
        QVERIFY(server->listen(
            tinsoke::instanceFilePath(tinsoke::singleInstanceName(), QStringLiteral(".socket"))));

        const QString a = make(QStringLiteral("a.png"));
        const QString b = make(QStringLiteral("folder/写真 b.jpeg"));
        make(QStringLiteral("folder/c.txt"));
        auto second = startSecond({QStringLiteral("a.png"), QStringLiteral("folder/")});
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardOutput().isEmpty());
        QVERIFY(second->readAllStandardError().isEmpty());
        QTRY_COMPARE(fresh->fileList().rowCount(), 2);
        QCOMPARE(fresh->fileList().ReadRow(0).Path, a);
        QCOMPARE(fresh->fileList().ReadRow(1).Path, b);

#ifndef Q_OS_WIN // names there are UTF-16, and no shell gives bytes
        // A name that is not UTF-8 arrives byte for byte, as the shell gave it.
        const QByteArray odd = QFile::encodeName(files.path()) + "/x\xff\xfe.png";
        ::close(::open(odd.constData(), O_WRONLY | O_CREAT, 0644));
        const auto program = startSecond(
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$(printf 'x\\377\\376.png')\""),
             programCopy()},
            QStringLiteral("/bin/sh"));
        QCOMPARE(program->exitCode(), 0);
        QTRY_COMPARE(fresh->fileList().rowCount(), 3);
        QCOMPARE(tinsoke::bytesOfPath(fresh->fileList().ReadRow(2).Path), odd);
#endif

        // A running copy that does not take the files: the start says so and fails.
        server.reset();
        auto unheard = startSecond({QStringLiteral("a.png")});
        QCOMPARE(unheard->exitCode(), 1);
        QVERIFY(!unheard->readAllStandardError().isEmpty());
    }
};

QTEST_MAIN(HandoffTest)
#include "handoff_test.moc"
