// pelmora-tinsoke --watch as the real binary: pictures arriving in every way
// people and programs put them in a folder, a burst, an idle watch, trouble
// told on the way, and SIGTERM.
#include "picturecheck.h"
#include "pictures.h"
#include "programcopy.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace tinsoke;

class WatchTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString at(const QString &relative) const { return dir.filePath(relative); }

    // Settings with OptiPNG through a wrapper that logs each start.
    QString settings(const QString &name, const QByteArray &pause = "")
    {
        const QString log = at(name + QStringLiteral(".starts"));
        const QString tool =
            fakeTool(at(name + QStringLiteral("-tool")), QStringLiteral("optipng"),
                     pause + "echo x >> '" + log.toUtf8() + "'\n/usr/bin/optipng \"$@\"");
        const QString ini = at(name + QStringLiteral(".ini"));
        writeBytes(ini, "[Option]\r\nSaveMode=0\r\nJobs=2\r\n[OptiPNG]\r\nUse=Yes\r\nPath=" +
                            tool.toUtf8() + "\r\nOptimizeLevel=1\r\nParam=\r\nUseParam=Yes\r\n");
        return ini;
    }
    int starts(const QString &name) const
    {
        return static_cast<int>(bytesOf(at(name + QStringLiteral(".starts"))).count('\n'));
    }

    struct Watch {
        QProcess process;
        QString out;
        QString err;
        ~Watch()
        {
            if (process.state() == QProcess::NotRunning)
                return;
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
            if (!process.waitForFinished(10000))
                process.kill();
            process.waitForFinished();
        }
        void read()
        {
            out += QString::fromUtf8(process.readAllStandardOutput());
            err += QString::fromUtf8(process.readAllStandardError());
        }
        // Waits until a line names the path; gives how long it took, or -1.
        qint64 waitForLine(const QString &path, int timeoutMs = 20000)
        {
            QElapsedTimer clock;
            clock.start();
            while (!out.contains(path + u'\t')) {
                if (clock.elapsed() > timeoutMs)
                    return -1;
                process.waitForReadyRead(100);
                read();
            }
            return clock.elapsed();
        }
        void settle(int ms)
        {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < ms) {
                process.waitForReadyRead(100);
                read();
            }
        }
    };

    void start(Watch &w, const QStringList &arguments, const QByteArray &preload = QByteArray())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (!preload.isEmpty())
            env.insert(QStringLiteral("LD_PRELOAD"), QString::fromUtf8(preload));
        w.process.setProcessEnvironment(env);
        w.process.start(programCopy(), QStringList{QStringLiteral("--watch")} + arguments);
        QVERIFY(w.process.waitForStarted());
    }

    static double cpuSeconds(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        // After the name: state is field 3, utime 14 and stime 15.
        return (fields.value(12).toDouble() + fields.value(13).toDouble()) /
               static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        qputenv("TEMP", QFile::encodeName(at(QStringLiteral("temp"))));
        QDir().mkpath(at(QStringLiteral("temp")));
        QDir().mkpath(at(QStringLiteral("outside")));
    }

    // Copied, written slowly, moved in, renamed from .part, and put in a
    // sub-folder made later: each once, with the same pixels, and nothing
    // again for the watch's own writes. A folder it cannot watch, a picture
    // removed before its turn and a folder removed are told, and it goes on;
    // SIGTERM ends it with every picture whole and no tool left.
    void keepsAFolderOptimized()
    {
        const QString ini = settings(QStringLiteral("a"), "sleep 0.3\n");
        const QString top = at(QStringLiteral("a"));
        QDir().mkpath(top + QStringLiteral("/unwatchable"));
        QMap<QString, PictureFacts> facts;
        const auto picture = [&](const QString &path, quint32 seed) {
            savePicture(makePicture(200, 150, seed), path);
            facts[path] = readPictureFacts(path, ImageKind::Png);
            return bytesOf(path);
        };
        const QString existing = top + QStringLiteral("/existing.png");
        picture(existing, 1);

        Watch w;
        start(w, {QStringLiteral("--settings"), ini, top}, INOTIFY_LIMIT);
        QVERIFY2(w.waitForLine(existing) >= 0, qPrintable(w.err));
        QVERIFY2(w.err.contains(QStringLiteral("fs.inotify.max_user_watches")), qPrintable(w.err));

        const QString outside = at(QStringLiteral("outside/"));
        const QString copied = top + QStringLiteral("/copied.png");
        picture(outside + QStringLiteral("c.png"), 2);
        facts[copied] = facts[outside + QStringLiteral("c.png")];
        QVERIFY(QFile::copy(outside + QStringLiteral("c.png"), copied));
        QVERIFY2(w.waitForLine(copied) >= 0, qPrintable(w.err));

        const QString slow = top + QStringLiteral("/slow.png");
        {
            const QByteArray bytes = picture(outside + QStringLiteral("s.png"), 3);
            facts[slow] = facts[outside + QStringLiteral("s.png")];
            QFile f(slow);
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int part = 0; part < 4; ++part) {
                const qsizetype from = part * bytes.size() / 4;
                f.write(bytes.mid(from, (part + 1) * bytes.size() / 4 - from));
                f.flush();
                QThread::msleep(500);
            }
        }
        QVERIFY2(w.waitForLine(slow) >= 0, qPrintable(w.err));

        const QString moved = top + QStringLiteral("/moved.png");
        picture(outside + QStringLiteral("m.png"), 4);
        facts[moved] = facts[outside + QStringLiteral("m.png")];
        QVERIFY(QFile::rename(outside + QStringLiteral("m.png"), moved));
        const QString part = top + QStringLiteral("/download.png");
        writeBytes(part + QStringLiteral(".part"), picture(outside + QStringLiteral("d.png"), 5));
        facts[part] = facts[outside + QStringLiteral("d.png")];
        QThread::msleep(300);
        QVERIFY(QFile::rename(part + QStringLiteral(".part"), part));
        const QString later = top + QStringLiteral("/later/in-sub.png");
        QVERIFY(QDir().mkdir(top + QStringLiteral("/later")));
        picture(later, 6);
        for (const QString &path : {moved, part, later}) {
            const qint64 took = w.waitForLine(path);
            QVERIFY2(took >= 0, qPrintable(path + u'\n' + w.err));
            qInfo("%s: its line %lld ms after it was complete",
                  qPrintable(QFileInfo(path).fileName()), took);
        }
        w.settle(3000); // its own writes, settled, start nothing
        QCOMPARE(starts(QStringLiteral("a")), 6);
        QCOMPARE(w.out.count(u'\n'), 6);
        for (const QString &path : {existing, copied, slow, moved, part, later}) {
            QVERIFY2(samePicture(readPictureFacts(path, ImageKind::Png), facts[path]),
                     qPrintable(path));
            QVERIFY(w.out.contains(path + u'\t'));
        }

        writeBytes(top + QStringLiteral("/gone.png"), bytesOf(copied));
        QThread::msleep(200);
        QVERIFY(QFile::remove(top + QStringLiteral("/gone.png")));
        QVERIFY(QDir(top + QStringLiteral("/later")).removeRecursively());
        const QString after = top + QStringLiteral("/after.png");
        picture(after, 7);
        QVERIFY2(w.waitForLine(after) >= 0, qPrintable(w.err));
        QVERIFY2(w.err.contains(top + QStringLiteral("/gone.png: 処理の前になくなりました")),
                 qPrintable(w.err));
        QVERIFY2(w.err.contains(
                     QStringLiteral("監視していたフォルダがなくなりました（削除または移動）：") +
                     top + QStringLiteral("/later")),
                 qPrintable(w.err));

        // SIGTERM while tools run.
        for (quint32 i = 0; i < 6; ++i)
            picture(top + QStringLiteral("/term%1.png").arg(i), 10 + i);
        QTRY_VERIFY_WITH_TIMEOUT(toolsRunning(at(QStringLiteral("a-tool"))), 10000);
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(w.process.processId()), SIGTERM);
        QVERIFY(w.process.waitForFinished(15000));
        qInfo("SIGTERM: ended in %lld ms", clock.elapsed());
        QCOMPARE(w.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(w.process.exitCode(), 143);
        QVERIFY(!toolsRunning(at(QStringLiteral("a-tool"))));
        for (auto it = facts.cbegin(); it != facts.cend(); ++it)
            if (QFileInfo::exists(it.key()))
                QVERIFY2(samePicture(readPictureFacts(it.key(), ImageKind::Png), it.value()),
                         qPrintable(it.key()));
    }

    // A picture put in a file's place while the file's chain ran, of the
    // same size: the watch optimizes it when it arrives, instead of taking
    // it for the finished file it replaced.
    void optimizesAPictureThatReplacedOneUnderWork()
    {
        const QString top = at(QStringLiteral("swap"));
        const QString png = top + QStringLiteral("/x.png");
        const QString other = at(QStringLiteral("swap-other.png"));
        QVERIFY(savePicture(makePicture(200, 150, 1), png));
        QVERIFY(savePicture(makePicture(200, 150, 2), other));
        QCOMPARE(QFileInfo(png).size(), QFileInfo(other).size());
        const QByteArray mark = QFile::encodeName(at(QStringLiteral("swap.done")));
        const QByteArray to = QFile::encodeName(png);
        // The first start puts the other picture in place and gives nothing smaller.
        const QString ini = settings(QStringLiteral("swap"),
                                     "if [ ! -e '" + mark + "' ]; then : > '" + mark + "'; cp '" +
                                         QFile::encodeName(other) + "' '" + to + ".new' && mv '" +
                                         to + ".new' '" + to + "'; exit 0; fi\n");
        Watch w;
        start(w, {QStringLiteral("--settings"), ini, top});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(png).size() < QFileInfo(other).size(), 20000);
        w.settle(300);
        QVERIFY2(w.err.contains(QStringLiteral("ほかのプログラム")), qPrintable(w.err));
    }

    // A picture 元に戻す gave back is not optimized again at once: the watch
    // leaves it alone, says why, and takes it once it changes.
    void leavesAPictureGivenBackAlone()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(QStringLiteral("data"))));
        const QString ini = settings(QStringLiteral("undo"));
        writeBytes(ini, bytesOf(ini).replace("Jobs=2\r\n", "Jobs=2\r\nOriginals=Trash\r\n"));
        const QString top = at(QStringLiteral("undo"));
        const QString png = top + QStringLiteral("/p.png");
        QVERIFY(savePicture(makePicture(200, 150, 11), png));
        const QByteArray before = bytesOf(png);
        for (const QString &word : {QStringLiteral("--run"), QStringLiteral("--revert")}) {
            QProcess once;
            once.start(programCopy(), {word, QStringLiteral("--settings"), ini, png});
            QVERIFY(once.waitForFinished(60000) && once.exitCode() == 0);
        }
        QCOMPARE(bytesOf(png), before);
        const int worked = starts(QStringLiteral("undo"));

        Watch w;
        start(w, {QStringLiteral("--settings"), ini, top});
        QTRY_VERIFY_WITH_TIMEOUT((w.read(), w.err.contains(QStringLiteral("元に戻したファイル"))),
                                 20000);
        w.settle(1500);
        QCOMPARE(bytesOf(png), before);
        QCOMPARE(starts(QStringLiteral("undo")), worked);
        QVERIFY(savePicture(makePicture(200, 150, 12), png));
        QVERIFY2(w.waitForLine(png) >= 0, qPrintable(w.err));
    }

    // Named as a link, the folder is watched where the link leads, and said
    // so. In it, a link to a picture outside is not followed, a link to a
    // device and a FIFO are told as what they are, and a folder that cannot
    // be watched is told with its reason; new pictures are still taken.
    void staysInsideItsFolder()
    {
        const QString ini = settings(QStringLiteral("c"));
        const QString real = at(QStringLiteral("c-real"));
        const QString named = at(QStringLiteral("c-link"));
        QDir().mkpath(real + QStringLiteral("/refused"));
        QVERIFY(QFile::link(real, named));
        const QString secret = at(QStringLiteral("outside/secret.png"));
        savePicture(makePicture(200, 150, 30), secret);
        const QByteArray secretBytes = bytesOf(secret);
        const QString first = real + QStringLiteral("/first.png");
        savePicture(makePicture(200, 150, 31), first);

        Watch w;
        start(w, {QStringLiteral("--settings"), ini, named}, INOTIFY_LIMIT);
        QVERIFY2(w.waitForLine(first) >= 0, qPrintable(w.out + w.err));
        QVERIFY2(w.err.contains(named + QStringLiteral(" はリンクです。リンク先の ") + real),
                 qPrintable(w.err));
        QVERIFY2(w.err.contains(QStringLiteral("フォルダを監視できません（Permission denied）：") +
                                real + QStringLiteral("/refused")),
                 qPrintable(w.err));

        QVERIFY(QFile::link(secret, real + QStringLiteral("/out-link.png")));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), real + QStringLiteral("/zero.png")));
        QCOMPARE(::mkfifo(QFile::encodeName(real + QStringLiteral("/pipe.png")).constData(), 0600),
                 0);
        const QString arrived = real + QStringLiteral("/arrived.png");
        savePicture(makePicture(200, 150, 32), arrived);
        QVERIFY2(w.waitForLine(arrived) >= 0, qPrintable(w.out + w.err));
        w.settle(1500);
        QCOMPARE(starts(QStringLiteral("c")), 2);
        QCOMPARE(bytesOf(secret), secretBytes);
        for (const QString &told :
             {QStringLiteral("/out-link.png: 監視しているフォルダの外を指すリンク"),
              QStringLiteral("/zero.png: リンク先がデバイスです"),
              QStringLiteral("/pipe.png: 名前付きパイプ（FIFO）です")})
            QVERIFY2(w.err.contains(real + told), qPrintable(told + u'\n' + w.err));
        QVERIFY2(!w.err.contains(QStringLiteral("なくなりました")), qPrintable(w.err));
    }

    // 200 pictures at once are queued and done Jobs at a time: a line and one
    // tool start each. Idle afterwards, the watch costs no CPU and starts nothing.
    void takesABurstAndThenRests()
    {
        const QString ini = settings(QStringLiteral("b"));
        const QString top = at(QStringLiteral("b"));
        const QString ready = at(QStringLiteral("outside/burst"));
        QDir().mkpath(top);
        for (int i = 0; i < 200; ++i)
            savePicture(makePicture(48, 32, static_cast<quint32>(i)),
                        ready + QStringLiteral("/p%1.png").arg(i));
        Watch w;
        start(w, {QStringLiteral("--settings"), ini, top});
        w.settle(500);
        for (int i = 0; i < 200; ++i)
            QVERIFY(QFile::copy(ready + QStringLiteral("/p%1.png").arg(i),
                                top + QStringLiteral("/p%1.png").arg(i)));
        QTRY_VERIFY_WITH_TIMEOUT((w.read(), w.out.count(u'\n') >= 200), 120000);
        w.settle(2000);
        QCOMPARE(w.out.count(u'\n'), 200);
        QCOMPARE(starts(QStringLiteral("b")), 200);

        const double before = cpuSeconds(w.process.processId());
        w.settle(5000);
        const double idle = cpuSeconds(w.process.processId()) - before;
        qInfo("5 idle seconds cost %.3f s of CPU", idle);
        QVERIFY2(idle >= 0 && idle < 0.05, qPrintable(QString::number(idle)));
        QCOMPARE(starts(QStringLiteral("b")), 200);
        ::kill(static_cast<pid_t>(w.process.processId()), SIGTERM);
        QVERIFY(w.process.waitForFinished(15000));
        QCOMPARE(w.process.exitCode(), 143);
    }
};

QTEST_MAIN(WatchTest)
#include "watch_test.moc"
