// The program from a script: pelmora-tinsoke --run, as the real binary, with
// no display, next to an open window, in parallel, and stopped by Ctrl+C.
#include "metadata.h"
#include "picturecheck.h"
#include "pictures.h"
#include "programcopy.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tinsoke;

namespace {

struct Result {
    int code = -1;
    QString out;
    QString err;
};

QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

// The program as it is started: by itself, or behind a command (setpriv).
Result runProgram(const QStringList &arguments, const std::function<void()> &inChild = {},
                  const QStringList &before = {})
{
    QProcess p;
    p.setProcessEnvironment(withoutDisplay());
    if (inChild)
        p.setChildProcessModifier(inChild);
    if (before.isEmpty())
        p.start(programCopy(), arguments);
    else
        p.start(before.first(), before.mid(1) + QStringList{programCopy()} + arguments);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString at(const QString &relative) const { return dir.filePath(relative); }
    QString settings(const QByteArray &text) const
    {
        const QString path = at(QStringLiteral("settings.ini"));
        writeBytes(path, "[Option]\r\nSaveMode=0\r\nJobs=0\r\n" + text);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TEMP", QFile::encodeName(at(QStringLiteral("temp"))));
        // The Trash of every run here is the test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(QStringLiteral("data"))));
    }

    // Real optipng and jpegoptim over a folder: smaller, the same pictures, a
    // line per file and a total; a file that cannot be read gives 1; bad
    // usage gives 2.
    void optimizesAFolderWithoutADisplay()
    {
        if (realTool("optipng").isEmpty() || realTool("jpegoptim").isEmpty())
            QSKIP("optipng and jpegoptim are not installed");
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString ini = settings(
            "[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
            "OptimizeLevel=1\r\n[Jpegoptim]\r\nUse=Yes\r\nPath=/usr/bin/jpegoptim\r\nStrip=No\r\n");
        const QStringList files{at(QStringLiteral("pics/a.png")),
                                at(QStringLiteral("pics/sub/b.jpg")),
                                at(QStringLiteral("pics/sub/c.JPEG"))};
        QList<PictureFacts> facts;
        QList<qint64> sizes;
        for (const QString &f : files) {
            QImage picture = makePicture(300, 220, static_cast<quint32>(facts.size()));
            QVERIFY(savePicture(picture, f));
            facts << readPictureFacts(f, f.endsWith(u"png") ? ImageKind::Png : ImageKind::Jpeg);
            sizes << QFileInfo(f).size();
        }
        const Result r = runProgram({QStringLiteral("--run"), QStringLiteral("--settings"), ini,
                                     at(QStringLiteral("pics"))});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines.last().startsWith(QStringLiteral("TOTAL\t3\t")));
        for (int i = 0; i < files.size(); ++i) {
            const QString &f = files.at(i);
            QVERIFY(QFileInfo(f).size() <= sizes.at(i));
            QVERIFY2(samePicture(
                         readPictureFacts(f, f.endsWith(u"png") ? ImageKind::Png : ImageKind::Jpeg),
                         facts.at(i)),
                     qPrintable(f + u' ' + facts.at(i).why));
        }
        QVERIFY(QFileInfo(files.first()).size() < sizes.first());
        const QStringList first = lines.filter(files.first()).value(0).split(u'\t');
        QCOMPARE(first.size(), 6);
        QCOMPARE(first.at(1).toLongLong(), sizes.first());
        QCOMPARE(first.at(2).toLongLong(), QFileInfo(files.first()).size());
        QCOMPARE(first.at(4), QStringLiteral("OptiPNG"));

        // A file no tool can read, and one that is not there.
        writeBytes(at(QStringLiteral("locked/y.png")), "not a picture at all");
        const Result bad = runProgram(
            {QStringLiteral("--run"), QStringLiteral("--settings"), ini, QStringLiteral("--save"),
             QStringLiteral("copy"), at(QStringLiteral("locked")), at(QStringLiteral("none.png"))});
        QCOMPARE(bad.code, 1);
        QVERIFY2(bad.err.contains(at(QStringLiteral("none.png")) + QStringLiteral(": ")),
                 qPrintable(bad.err));
        QCOMPARE(runProgram({QStringLiteral("--run"), QStringLiteral("--jobs"), QStringLiteral("x"),
                             at(QStringLiteral("pics"))})
                     .code,
                 2);
        QCOMPARE(runProgram({QStringLiteral("--run"), QStringLiteral("--nonsense")}).code, 2);
        QCOMPARE(runProgram({QStringLiteral("--run"), QStringLiteral("--settings"),
                             at(QStringLiteral("missing.ini")), at(QStringLiteral("pics"))})
                     .code,
                 2);
        const Result help = runProgram({QStringLiteral("--help")});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains(QStringLiteral("--run")) &&
                help.out.contains(QStringLiteral("TOTAL")));
        QCOMPARE(runProgram({QStringLiteral("--version")}).code, 0);
    }

    // Limits of the world around a run. Under a file size limit (ulimit -f)
    // the picture too large for it is told with its reason, left whole, and
    // the run goes on to its end; a tool that locks its own folder (chmod
    // 000), run by an ordinary user, leaves no run folder behind.
    void limitsAndLockedFoldersEndTheRunCleanly()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        const QString temp = at(QStringLiteral("temp"));
        QDir().mkpath(temp);
        const auto runFolders = [&] {
            return QDir(temp).entryList({QStringLiteral("pelmora-tinsoke-*")},
                                        QDir::Dirs | QDir::Hidden);
        };
        const QString big = at(QStringLiteral("limit/big.png"));
        const QString small = at(QStringLiteral("limit/small.png"));
        QVERIFY(savePicture(makePicture(420, 300, 1), big));
        QVERIFY(savePicture(makePicture(40, 30, 2), small));
        const QByteArray bigBefore = bytesOf(big);
        const qint64 smallBefore = QFileInfo(small).size();
        QVERIFY(bigBefore.size() > 180 * 1024);
        const QString ini =
            settings("[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\nOptimizeLevel=0\r\n");
        const Result limited = runProgram({QStringLiteral("--run"), QStringLiteral("--settings"),
                                           ini, at(QStringLiteral("limit"))},
                                          [] {
                                              const struct rlimit limit {
                                                  100 * 1024, 100 * 1024
                                              };
                                              ::setrlimit(RLIMIT_FSIZE, &limit);
                                          });
        QCOMPARE(limited.code, 1);
        QVERIFY2(limited.out.contains(QStringLiteral("TOTAL\t1\t")), qPrintable(limited.out));
        QVERIFY2(limited.err.contains(big) && limited.err.contains(qt_error_string(EFBIG)),
                 qPrintable(limited.err));
        QCOMPARE(bytesOf(big), bigBefore);
        QVERIFY(QFileInfo(small).size() < smallBefore);
        QVERIFY2(runFolders().isEmpty(), qPrintable(runFolders().join(u' ')));

        // An ordinary user, where the test runs as the superuser (who may
        // remove anything): the program, the files and TEMP made theirs to use.
        QStringList asUser;
        if (::geteuid() == 0) {
            asUser = QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                 QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
            for (const QString &folder :
                 {QFileInfo(programCopy()).absolutePath(), dir.path(), temp})
                ::chmod(QFile::encodeName(folder).constData(), 0777);
        }
        const QString locks = fakeTool(at(QStringLiteral("tools")), QStringLiteral("locks"),
                                       "eval in=\\${$#}; chmod 000 \"$(dirname \"$in\")\"");
        ::chmod(QFile::encodeName(at(QStringLiteral("tools"))).constData(), 0755);
        ::chmod(QFile::encodeName(locks).constData(), 0755);
        const QString locked = at(QStringLiteral("lockers/a.png"));
        QVERIFY(savePicture(makePicture(60, 40, 3), locked));
        const QString lockIni = at(QStringLiteral("lockers/s.ini"));
        writeBytes(lockIni, "[Option]\r\nSaveMode=0\r\n[OptiPNG]\r\nUse=Yes\r\nPath=" +
                                QFile::encodeName(locks) + "\r\nOptimizeLevel=0\r\n");
        ::chmod(QFile::encodeName(at(QStringLiteral("lockers"))).constData(), 0777);
        for (const QString &f : {locked, lockIni})
            ::chmod(QFile::encodeName(f).constData(), 0666);
        const Result user = runProgram(
            {QStringLiteral("--run"), QStringLiteral("--settings"), lockIni, locked}, {}, asUser);
        if (user.code < 0 || user.err.contains(QStringLiteral("setpriv")))
            QSKIP(qPrintable(QStringLiteral("cannot run as another user: ") + user.err));
        QVERIFY2(user.out.contains(QStringLiteral("TOTAL\t1\t")), qPrintable(user.err));
        QVERIFY2(runFolders().isEmpty(), qPrintable(runFolders().join(u' ')));
    }

    // Random bytes named .png and a PNG cut in half are named on stderr,
    // left as they were, and give exit 1; the good file beside them is done.
    void passesOverWhatIsNotAPicture()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString ini =
            settings("[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\nOptimizeLevel=1\r\n");
        const QString good = at(QStringLiteral("mixed/good.png"));
        QVERIFY(savePicture(makePicture(300, 220, 4), good));
        const qint64 size = QFileInfo(good).size();
        const QByteArray whole = bytesOf(good);
        QByteArray garbage(5000, '\0');
        for (char &c : garbage)
            c = char(QRandomGenerator::global()->bounded(256));
        const QList<QPair<QString, QByteArray>> bad{
            {at(QStringLiteral("mixed/garbage.png")), garbage},
            {at(QStringLiteral("mixed/cut.png")), whole.left(whole.size() / 2)}};
        for (const auto &[path, bytes] : bad)
            writeBytes(path, bytes);

        const Result r = runProgram({QStringLiteral("--run"), QStringLiteral("--settings"), ini,
                                     at(QStringLiteral("mixed"))});
        QCOMPARE(r.code, 1);
        for (const auto &[path, bytes] : bad) {
            QVERIFY2(r.err.contains(path), qPrintable(r.err));
            QVERIFY(bytesOf(path) == bytes);
        }
        QVERIFY(QFileInfo(good).size() < size);
    }

    // Tools of the user's own, after the built-in ones of their kind:
    // zopflipng after OptiPNG keeps every chunk and saves more; a tool that
    // changes pixels is refused by name; an unticked one never starts; the
    // argument line reaches the tool word for word. For JPEG, an in-place
    // tool and a progressive jpegtran both take.
    void usersOwnToolsGoThroughTheSameCheck()
    {
        const QString zopflipng = realTool("zopflipng");
        if (zopflipng.isEmpty() || realTool("optipng").isEmpty() || realTool("jpegoptim").isEmpty())
            QSKIP("zopflipng, optipng or jpegoptim is not installed");
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString fakes = at(QStringLiteral("own-tools"));
        const QString marker = at(QStringLiteral("unticked-ran"));
        const QString argvFile = at(QStringLiteral("argv.txt"));
        const QString other = at(QStringLiteral("other.png"));
        QVERIFY(savePicture(makePicture(40, 30, 8), other));
        const QString changer = fakeTool(fakes, QStringLiteral("changer"),
                                         "cp '" + QFile::encodeName(other) + "' \"$1\"");
        const QString unticked = fakeTool(fakes, QStringLiteral("unticked"),
                                          "touch '" + QFile::encodeName(marker) + "'");
        const QString recorder =
            fakeTool(fakes, QStringLiteral("recorder"),
                     "printf '%s\\n' \"$@\" > '" + QFile::encodeName(argvFile) + "'");
        const QByteArray tools =
            "[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\nOptimizeLevel=2\r\nUseParam=No\r\n"
            "[ExtraTool1]\r\nUse=Yes\r\nName=zopflipng\r\nKind=PNG\r\nPath=" +
            QFile::encodeName(zopflipng) +
            "\r\nArgs=-y --keepchunks=tEXt,zTXt,iTXt,eXIf,pHYs,tIME {in} {out}\r\n"
            "[ExtraTool2]\r\nUse=Yes\r\nName=色替え\r\nKind=PNG\r\nPath=" +
            QFile::encodeName(changer) +
            "\r\nArgs={in}\r\n"
            "[ExtraTool3]\r\nUse=No\r\nName=unticked\r\nKind=PNG\r\nPath=" +
            QFile::encodeName(unticked) +
            "\r\nArgs={in}\r\n"
            "[ExtraTool4]\r\nUse=Yes\r\nName=recorder\r\nKind=PNG\r\nPath=" +
            QFile::encodeName(recorder) +
            "\r\nArgs=--level=3 \"two words\" --out={out} {in}\r\n"
            "[ExtraTool5]\r\nUse=Yes\r\nName=jpegoptim in place\r\nKind=JPEG\r\n"
            "Path=/usr/bin/jpegoptim\r\nArgs=-q {in}\r\n"
            "[ExtraTool6]\r\nUse=Yes\r\nName=progressive\r\nKind=JPEG\r\n"
            "Path=/usr/bin/jpegtran\r\nArgs=-copy all -optimize -progressive -outfile {out} "
            "{in}\r\n";
        const QString ini = settings(tools);
        const QString png = at(QStringLiteral("own/a.png"));
        const QString jpeg = at(QStringLiteral("own/b.jpg"));
        const QImage picture = makePicture(360, 240, 3);
        writeBytes(png, pngWith(picture, pngTextAndExif()));
        writeBytes(jpeg, phonePhoto(picture));
        const QByteArray pngBefore = bytesOf(png);
        const QByteArray jpegBefore = bytesOf(jpeg);
        const PictureFacts pngFacts = readPictureFacts(png, ImageKind::Png);
        const PictureFacts jpegFacts = readPictureFacts(jpeg, ImageKind::Jpeg);
        // What OptiPNG alone makes of it.
        const QString alone = at(QStringLiteral("alone.png"));
        writeBytes(alone, pngBefore);
        QCOMPARE(QProcess::execute(QStringLiteral("/usr/bin/optipng"),
                                   {QStringLiteral("-quiet"), QStringLiteral("-o2"), alone}),
                 0);

        const Result r =
            runProgram({QStringLiteral("--run"), QStringLiteral("--settings"), ini, png, jpeg});

        QCOMPARE(r.code, 0); // refused results still leave every file processed
        const QStringList lines = r.out.split(u'\n');
        QVERIFY2(lines.at(0).section(u'\t', 4, 4) == QStringLiteral("OptiPNG,zopflipng"),
                 qPrintable(r.out + r.err));
        QVERIFY2(lines.at(1).section(u'\t', 4, 4) ==
                     QStringLiteral("jpegoptim in place,progressive"),
                 qPrintable(r.out + r.err));
        QVERIFY(bytesOf(png).size() < bytesOf(alone).size());
        QVERIFY(samePicture(readPictureFacts(png, ImageKind::Png), pngFacts));
        QCOMPARE(metadataChunks(bytesOf(png)), metadataChunks(pngBefore));
        QVERIFY(bytesOf(jpeg).size() < jpegBefore.size());
        QVERIFY(samePicture(readPictureFacts(jpeg, ImageKind::Jpeg), jpegFacts));
        QCOMPARE(jpegExif(bytesOf(jpeg)).artist, QByteArray("Kiri Onoda"));
        QVERIFY2(r.err.contains(QStringLiteral("色替え の結果は画素が元の画像と異なりました")),
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(marker));
        const QStringList argv =
            QString::fromUtf8(bytesOf(argvFile)).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(argv.size(), 4);
        QCOMPARE(argv.mid(0, 2),
                 (QStringList{QStringLiteral("--level=3"), QStringLiteral("two words")}));
        const QString temp = at(QStringLiteral("temp/"));
        QVERIFY2(argv.at(2).startsWith(QStringLiteral("--out=") + temp) &&
                     argv.at(3).startsWith(temp),
                 qPrintable(argv.join(u' ')));
    }

    // A ticked tool of the user's own that cannot run (a quote left open,
    // {out} without {in}, a program that is gone): --run and --watch tell it
    // once, with its reason, touch nothing and end with 1.
    void aTickedToolThatCannotRunEndsWithOne()
    {
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString png = at(QStringLiteral("unusable/a.png"));
        QVERIFY(savePicture(makePicture(40, 30, 5), png));
        const QByteArray before = bytesOf(png);
        const QList<QPair<QByteArray, QString>> cases = {
            {"Path=/bin/true\r\nArgs=\"{in} {out}\r\n",
             QStringLiteral("引用符 \" が閉じていません")},
            {"Path=/bin/true\r\nArgs=--out {out}\r\n", QStringLiteral("{in} がありません")},
            {"Path=/no/such/tool\r\nArgs={in}\r\n",
             QStringLiteral("/no/such/tool が見つかりません")}};
        for (const auto &[section, reason] : cases) {
            const QString ini =
                settings("[ExtraTool1]\r\nUse=Yes\r\nName=mine\r\nKind=PNG\r\n" + section);
            for (const QString &mode : {QStringLiteral("--run"), QStringLiteral("--watch")}) {
                const Result r = runProgram(
                    {mode, QStringLiteral("--settings"), ini, at(QStringLiteral("unusable"))});
                QVERIFY2(r.code == 1, qPrintable(mode + u' ' + r.err));
                QCOMPARE(r.err.count(reason), 1);
                QVERIFY(r.out.isEmpty());
            }
        }
        QCOMPARE(bytesOf(png), before);
    }

    // No process of a tool outlives the program: not a daemon it started
    // (setsid, out of its group) after a normal end, and neither the real
    // work under a wrapper nor such a daemon once the program is killed
    // outright.
    void noToolOutlivesTheProgram()
    {
        const QString marker =
            QStringLiteral("tinsoke-outlive-%1").arg(QCoreApplication::applicationPid());
        const QByteArray m = marker.toUtf8();
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString png = at(QStringLiteral("outlive/a.png"));
        QVERIFY(savePicture(makePicture(40, 30, 9), png));
        const QString daemonTool =
            fakeTool(at(QStringLiteral("outlive-tools")), QStringLiteral("daemon"),
                     "(setsid sh -c 'sleep 30; : " + m + "-daemon' > /dev/null 2>&1 &)\nsleep 0.3");
        const Result ended = runProgram(
            {QStringLiteral("--run"), QStringLiteral("--settings"),
             settings("[OptiPNG]\r\nUse=Yes\r\nPath=" + daemonTool.toUtf8() + "\r\n"), png});
        QVERIFY2(ended.code >= 0, qPrintable(ended.err));
        QVERIFY(!toolsRunning(marker + QStringLiteral("-daemon")));

        const QString wrapper =
            fakeTool(at(QStringLiteral("outlive-tools")), QStringLiteral("wrapper"),
                     "(setsid sh -c 'sleep 30; : " + m +
                         "-killed-daemon' > /dev/null 2>&1 &)\n"
                         "sh -c 'sleep 30; : " +
                         m + "-work'");
        QProcess program;
        program.setProcessEnvironment(withoutDisplay());
        program.start(programCopy(),
                      {QStringLiteral("--run"), QStringLiteral("--force"),
                       QStringLiteral("--settings"),
                       settings("[OptiPNG]\r\nUse=Yes\r\nPath=" + wrapper.toUtf8() + "\r\n"), png});
        QTRY_VERIFY_WITH_TIMEOUT(toolsRunning(marker + QStringLiteral("-work")) &&
                                     toolsRunning(marker + QStringLiteral("-killed-daemon")),
                                 20000);
        QElapsedTimer clock;
        clock.start();
        program.kill();
        QVERIFY(program.waitForFinished());
        while (toolsRunning(marker) && clock.elapsed() < 1000)
            QThread::msleep(20);
        QVERIFY2(!toolsRunning(marker), qPrintable(QString::number(clock.elapsed())));
        qInfo("SIGKILL: no process of the tool left after %lld ms", clock.elapsed());
    }

    // With --jobs 2 two tools overlap; beside an open window it runs all
    // the same; Ctrl+C stops it at once, every file whole, exit 130.
    void runsInParallelBesideAWindowAndStopsOnCtrlC()
    {
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString record = at(QStringLiteral("record"));
        const QString marker =
            QStringLiteral("tinsoke-cli-tool-%1").arg(QCoreApplication::applicationPid());
        const QString tool = fakeTool(at(QStringLiteral("tools")), marker,
                                      "echo start >> '" + QFile::encodeName(record) +
                                          "'; sleep \"${SLOW:-0.5}\"; echo end >> '" +
                                          QFile::encodeName(record) + "'");
        const QString ini = settings("[OptiPNG]\r\nUse=Yes\r\nPath=" + tool.toUtf8() + "\r\n");
        QStringList files;
        QList<QByteArray> before;
        for (int i = 0; i < 4; ++i) {
            files << at(QStringLiteral("par/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(50, 40, i), files.last()));
            before << bytesOf(files.last());
        }

        // A window copy, as a user has it open.
        QProcess window;
        QProcessEnvironment windowEnv = QProcessEnvironment::systemEnvironment();
        windowEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // A lock of its own, whatever other tests run beside this one.
        const QString runtime = at(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        windowEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        window.setProcessEnvironment(windowEnv);
        window.start(programCopy(), {});
        QVERIFY(window.waitForStarted());
        QTest::qWait(500);

        const Result r =
            runProgram({QStringLiteral("--run"), QStringLiteral("--jobs"), QStringLiteral("2"),
                        QStringLiteral("--settings"), ini, at(QStringLiteral("par"))});
        QCOMPARE(window.state(), QProcess::Running); // the window copy stayed
        window.kill();
        window.waitForFinished();
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out.split(u'\n', Qt::SkipEmptyParts).size(), 5);
        // Two starts before the first end: two tools ran at the same time.
        QVERIFY2(QString::fromUtf8(bytesOf(record)).startsWith(QStringLiteral("start\nstart\n")),
                 bytesOf(record).constData());

        // Ctrl+C a second into slow tools.
        QProcess p;
        QProcessEnvironment env = withoutDisplay();
        env.insert(QStringLiteral("SLOW"), QStringLiteral("30"));
        p.setProcessEnvironment(env);
        // The files are remembered from the run before: --force has the tools start again.
        p.start(programCopy(), {QStringLiteral("--run"), QStringLiteral("--force"),
                                QStringLiteral("--settings"), ini, at(QStringLiteral("par"))});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1000);
        QCOMPARE(p.state(), QProcess::Running);
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(!toolsRunning(marker));
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(bytesOf(files.at(i)), before.at(i));
        QVERIFY(QDir(at(QStringLiteral("temp"))).isEmpty());
    }
    // A second run starts no tool for what the first finished, however the
    // files are named or touched; a change of file, option or program, or
    // --force, makes work again. Runs spread by GNU parallel share the memory,
    // and a broken memory is told, set aside and made anew.
    void remembersWhatItFinished()
    {
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString record = at(QStringLiteral("memory-starts"));
        const auto wrapper = [&](const char *name) {
            return fakeTool(at(QStringLiteral("memory-tools")), QString::fromLatin1(name),
                            "echo \"$0\" >> '" + QFile::encodeName(record) + "'\nexec /usr/bin/" +
                                name + " \"$@\"");
        };
        const QString optipng = wrapper("optipng");
        const QString jpegoptim = wrapper("jpegoptim");
        const auto starts = [&] {
            const int n = int(bytesOf(record).count('\n'));
            QFile::remove(record);
            return n;
        };
        const QString ini = at(QStringLiteral("memory.ini"));
        const auto writeSettings = [&](int level) {
            writeBytes(ini, "[Option]\r\nSaveMode=0\r\nJobs=2\r\n[OptiPNG]\r\nUse=Yes\r\nPath=" +
                                optipng.toUtf8() + "\r\nUseParam=No\r\nParam=\r\nOptimizeLevel=" +
                                QByteArray::number(level) +
                                "\r\n[Jpegoptim]\r\nUse=Yes\r\nStrip=No\r\nStripMode=0\r\nPath=" +
                                jpegoptim.toUtf8() + "\r\n");
        };
        writeSettings(1);
        const QString tree = at(QStringLiteral("memory"));
        QVERIFY(savePicture(makePicture(160, 120, 71), tree + QStringLiteral("/a.png")));
        QVERIFY(savePicture(makePicture(160, 120, 72), tree + QStringLiteral("/sub/b.png")));
        QVERIFY(savePicture(makePicture(160, 120, 73), tree + QStringLiteral("/c.jpg")));
        const auto run = [&](const QStringList &more = {}) {
            const Result r =
                runProgram(QStringList{QStringLiteral("--run"), QStringLiteral("--settings"), ini} +
                           more + QStringList{tree});
            [&] {
                QVERIFY2(r.code == 0, qPrintable(r.err));
            }();
            return r;
        };
        const auto remembered = [](const Result &r) {
            int marked = 0;
            for (const QString &line : r.out.split(u'\n', Qt::SkipEmptyParts))
                marked += line.section(u'\t', 4, 4) == u"=";
            return marked;
        };

        run();
        QCOMPARE(starts(), 3);
        Result again = run();
        QCOMPARE(starts(), 0);
        QCOMPARE(remembered(again), 3);
        QCOMPARE(again.out.count(u'\n'), 4); // every file has its line, and the total

        QVERIFY(QProcess::execute(QStringLiteral("touch"), {tree + QStringLiteral("/a.png"),
                                                            tree + QStringLiteral("/c.jpg")}) == 0);
        QVERIFY(QFile::copy(tree + QStringLiteral("/a.png"), tree + QStringLiteral("/copy.png")));
        again = run();
        QCOMPARE(starts(), 0);
        QCOMPARE(remembered(again), 4);

        QVERIFY(savePicture(makePicture(160, 120, 74), tree + QStringLiteral("/sub/b.png")));
        run();
        QCOMPARE(starts(), 1); // the changed file alone
        writeSettings(2);
        run();
        QCOMPARE(starts(), 3); // every PNG, under another option
        writeBytes(jpegoptim, bytesOf(jpegoptim) + "# another program at the same path\n");
        run();
        QCOMPARE(starts(), 1); // the JPEG
        again = run({QStringLiteral("--force")});
        QCOMPARE(starts(), 4);
        QCOMPARE(remembered(again), 0);
        QCOMPARE(run().out.count(u'='), 4); // --force let the memory learn all the same

        // Spread over GNU parallel, two runs at a time, then read back from a NUL list.
        const QString spread = at(QStringLiteral("memory-spread"));
        for (int i = 0; i < 6; ++i)
            QVERIFY(savePicture(makePicture(120, 90, 80 + i),
                                spread + QStringLiteral("/%1.png").arg(i)));
        const auto shell = [&](const QString &script) {
            QProcess p;
            p.setProcessEnvironment(withoutDisplay());
            p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
            p.waitForFinished(120000);
            return Result{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                          QString::fromUtf8(p.readAllStandardError())};
        };
        const QString program = programCopy();
        Result spreadRun = shell(
            QStringLiteral("find '%1' -name '*.png' -print0 | parallel --will-cite -0 -j2 -N3 "
                           "'%2' --run --quiet --settings '%3' {}")
                .arg(spread, program, ini));
        QVERIFY2(spreadRun.code == 0, qPrintable(spreadRun.err));
        QCOMPARE(starts(), 6);
        spreadRun = shell(QStringLiteral("find '%1' -name '*.png' -print0 | '%2' --run --settings "
                                         "'%3' --files-from - --null")
                              .arg(spread, program, ini));
        QVERIFY2(spreadRun.code == 0, qPrintable(spreadRun.err));
        QCOMPARE(starts(), 0);
        QCOMPARE(remembered(spreadRun), 6);

        // Copies beside: an original once copied smaller gets no second copy.
        const QString copies = at(QStringLiteral("memory-copies"));
        for (int i = 0; i < 2; ++i)
            QVERIFY(savePicture(makePicture(120, 90, 90 + i),
                                copies + QStringLiteral("/%1.png").arg(i)));
        for (int pass = 0; pass < 2; ++pass)
            run({QStringLiteral("--save"), QStringLiteral("copy"), copies});
        QCOMPARE(starts(), 2);
        QCOMPARE(QDir(copies).entryList(QDir::Files).size(), 4);

        // Garbage in place of the memory: told, set aside, and the run goes on.
        const QString memory = at(QStringLiteral("memory.finished.db"));
        QVERIFY(QFileInfo::exists(memory));
        writeBytes(memory, QByteArray(4096, 'x'));
        const Result broken = run();
        QVERIFY2(broken.err.contains(QStringLiteral("記憶ファイルが壊れていた")),
                 qPrintable(broken.err));
        QCOMPARE(starts(), 4);
        const Result next = run();
        QVERIFY2(next.err.isEmpty(), qPrintable(next.err));
        QCOMPARE(starts(), 0);
    }

    // Usage errors, odd settings paths and hand-written values: answered at
    // once with 2, without a display, and nothing is overwritten.
    // Overwrites with real optipng put each original into the Trash as file
    // managers read it; --revert gives back what still holds the run's
    // result and leaves an edited file alone; a Trash that cannot be made
    // leaves the file as it was.
    void overwritesKeepTheWayBack()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        QDir().mkpath(at(QStringLiteral("temp")));
        const QByteArray tool =
            "[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\nOptimizeLevel=1\r\n";
        const QString ini = at(QStringLiteral("trash.ini"));
        writeBytes(ini, "[Option]\r\nSaveMode=0\r\nOriginals=Trash\r\n" + tool);
        const QString a = at(QStringLiteral("undo/a.png"));
        const QString b = at(QStringLiteral("undo/b c.png"));
        QVERIFY(savePicture(makePicture(200, 150, 81), a));
        QVERIFY(savePicture(makePicture(200, 150, 82), b));
        const QByteArray aBefore = bytesOf(a);
        const QByteArray bBefore = bytesOf(b);
        const QString trash = at(QStringLiteral("data/Trash"));
        const auto run = [&](const QStringList &words) {
            return runProgram(QStringList{QStringLiteral("--settings"), ini} + words);
        };

        const Result dry = run({QStringLiteral("--run"), QStringLiteral("--dry-run"), a});
        QVERIFY2(dry.out.contains(QStringLiteral("  元の画像\tごみ箱 ") + trash),
                 qPrintable(dry.out));
        QVERIFY(!QFileInfo::exists(trash));

        const Result done = run({QStringLiteral("--run"), a, b});
        QVERIFY2(done.code == 0, qPrintable(done.err));
        QVERIFY(QFileInfo(a).size() < aBefore.size() && QFileInfo(b).size() < bBefore.size());
        QCOMPARE(bytesOf(trash + QStringLiteral("/files/a.png")), aBefore);
        QCOMPARE(bytesOf(trash + QStringLiteral("/files/b c.png")), bBefore);
        const QByteArray info = bytesOf(trash + QStringLiteral("/info/b c.png.trashinfo"));
        QVERIFY2(
            info.startsWith(
                "[Trash Info]\nPath=" + QFile::encodeName(at(QStringLiteral("undo/b%20c.png"))) +
                "\nDeletionDate=" + QDate::currentDate().toString(Qt::ISODate).toLatin1() + 'T'),
            info.constData());

        // Run again, the memory knows both and nothing is overwritten: the
        // way back stays the first run's.
        QCOMPARE(run({QStringLiteral("--run"), a, b}).code, 0);

        // b is edited after the run: only a comes back, in its own place.
        const QByteArray bEdited = bytesOf(b) + "edited";
        writeBytes(b, bEdited);
        const Result back = run({QStringLiteral("--revert")});
        QCOMPARE(back.code, 1);
        QCOMPARE(bytesOf(a), aBefore);
        QCOMPARE(bytesOf(b), bEdited);
        QVERIFY2(back.out.contains(a + QStringLiteral("\t元に戻しました")), qPrintable(back.out));
        QVERIFY2(back.err.contains(b + QStringLiteral(": 実行のあとに変更されている")),
                 qPrintable(back.err));
        QVERIFY(!QFileInfo::exists(trash + QStringLiteral("/files/a.png")));
        QVERIFY(!QFileInfo::exists(trash + QStringLiteral("/info/a.png.trashinfo")));
        QCOMPARE(bytesOf(trash + QStringLiteral("/files/b c.png")), bBefore);
        // a has no way back left; the words are checked before anything is read.
        QCOMPARE(run({QStringLiteral("--revert"), a}).code, 1);
        QCOMPARE(runProgram({QStringLiteral("--revert"), QStringLiteral("--settings"),
                             at(QStringLiteral("none.ini"))})
                     .code,
                 2);
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("none.finished.db"))));
        QCOMPARE(
            run({QStringLiteral("--revert"), QStringLiteral("--jobs"), QStringLiteral("2")}).code,
            2);
        // Put back as it was after the run, b comes back by name.
        writeBytes(b, bEdited.chopped(6));
        const Result named = run({QStringLiteral("--revert"), QStringLiteral("--quiet"), b});
        QVERIFY2(named.code == 0 && named.out.isEmpty(), qPrintable(named.err));
        QCOMPARE(bytesOf(b), bBefore);

        // No Trash can be made where the home one should be: nothing is overwritten.
        writeBytes(at(QStringLiteral("blocked")), "a file where a folder should be");
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(QStringLiteral("blocked"))));
        const Result refused = run({QStringLiteral("--run"), a});
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(QStringLiteral("data"))));
        QCOMPARE(refused.code, 1);
        QCOMPARE(bytesOf(a), aBefore);
        QVERIFY2(refused.err.contains(
                     QStringLiteral("元の画像をごみ箱に入れられないため、上書きしませんでした")),
                 qPrintable(refused.err));
    }

    // On a file system of its own, the original goes to that file system's
    // top folder; one whose space ends before the original's copy is whole
    // leaves the file as it was and says so.
    void overwritesOnAnotherFileSystemUseItsTrash()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        QDir().mkpath(at(QStringLiteral("temp")));
        const QString ini = at(QStringLiteral("trash.ini"));
        writeBytes(ini, "[Option]\r\nSaveMode=0\r\nOriginals=Trash\r\n[OptiPNG]\r\nUse=Yes\r\n"
                        "Path=/usr/bin/optipng\r\nOptimizeLevel=1\r\n");
        const QString made = at(QStringLiteral("second.png"));
        QVERIFY(savePicture(makePicture(200, 150, 83), made));
        const QByteArray before = bytesOf(made);
        const auto mounted = [&](const QString &name, qint64 size) {
            const QByteArray target = QFile::encodeName(at(name));
            QDir().mkpath(at(name));
            const QByteArray options = "size=" + QByteArray::number(size) + ",mode=0755";
            return ::mount("tmpfs", target.constData(), "tmpfs", 0, options.constData()) == 0;
        };
        if (!mounted(QStringLiteral("second"), 4 << 20))
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        const auto unmount = qScopeGuard([&] {
            ::umount2(QFile::encodeName(at(QStringLiteral("second"))).constData(), MNT_DETACH);
            ::umount2(QFile::encodeName(at(QStringLiteral("full"))).constData(), MNT_DETACH);
        });
        const QString png = at(QStringLiteral("second/sub/p.png"));
        writeBytes(png, before);
        const Result done =
            runProgram({QStringLiteral("--settings"), ini, QStringLiteral("--run"), png});
        QVERIFY2(done.code == 0, qPrintable(done.err));
        QVERIFY(QFileInfo(png).size() < before.size());
        const QString trash = at(QStringLiteral("second/.Trash-%1").arg(::getuid()));
        QCOMPARE(bytesOf(trash + QStringLiteral("/files/p.png")), before);
        QVERIFY(bytesOf(trash + QStringLiteral("/info/p.png.trashinfo"))
                    .contains("\nPath=sub/p.png\n"));

        // Room for the picture and its Trash's folders, not for a second copy.
        QVERIFY(mounted(QStringLiteral("full"), (before.size() / 4096 + 3) * 4096));
        const QString tight = at(QStringLiteral("full/p.png"));
        writeBytes(tight, before);
        QCOMPARE(bytesOf(tight), before);
        const Result refused =
            runProgram({QStringLiteral("--settings"), ini, QStringLiteral("--run"), tight});
        QCOMPARE(refused.code, 1);
        QCOMPARE(bytesOf(tight), before);
        QVERIFY2(refused.err.contains(QStringLiteral("ごみ箱に入れられないため")),
                 qPrintable(refused.err));
        QVERIFY(QDir(at(QStringLiteral("full/.Trash-%1/files").arg(::getuid())))
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                    .isEmpty());
    }

    void refusesWhatItCannotUseWithoutTouchingFiles()
    {
        for (const QStringList &words :
             {QStringList{QStringLiteral("--no-such-option")}, QStringList{QStringLiteral("--run")},
              QStringList{QStringLiteral("--jobs"), QStringLiteral("many"),
                          at(QStringLiteral("x"))},
              QStringList{QStringLiteral("--run"), QStringLiteral("--jobs"), QStringLiteral("many"),
                          at(QStringLiteral("x"))}}) {
            const Result r = runProgram(words);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.startsWith(QStringLiteral("pelmora-tinsoke: ")), qPrintable(r.err));
        }
        const QString fifo = at(QStringLiteral("fifo.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString &odd : {QStringLiteral("/dev/zero"), fifo})
            QCOMPARE(runProgram({QStringLiteral("--run"), QStringLiteral("--settings"), odd,
                                 at(QStringLiteral("x"))})
                         .code,
                     2);

        const QString picture = at(QStringLiteral("hand/a.jpg"));
        QVERIFY(savePicture(makePicture(64, 48, 7), picture));
        const auto bytesOf = [](const QString &path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray before = bytesOf(picture);
        const QString ini = at(QStringLiteral("hand.ini"));
        writeBytes(ini, "[Option]\r\nSaveMode=copy\r\n[Jpegtran]\r\nUse=Yes\r\n"
                        "Path=/bin/true\r\nGrayscale=false\r\n");
        const Result refused =
            runProgram({QStringLiteral("--run"), QStringLiteral("--settings"), ini, picture});
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("Grayscale")), qPrintable(refused.err));
        QVERIFY2(refused.err.contains(QStringLiteral("[Jpegtran] Optimize")),
                 qPrintable(refused.err));
        QCOMPARE(bytesOf(picture), before);

        const Result dry = runProgram({QStringLiteral("--run"), QStringLiteral("--dry-run"),
                                       QStringLiteral("--save"), QStringLiteral("copy"),
                                       QStringLiteral("--settings"), ini, picture});
        QCOMPARE(dry.code, 0);
        QVERIFY2(dry.out.contains(QStringLiteral("\tcopy（別名で保存）\n  Jpegtran\t/bin/true ")),
                 qPrintable(dry.out));
        QVERIFY2(!dry.out.contains(QStringLiteral("-grayscale")), qPrintable(dry.out));
    }
};

QTEST_MAIN(CommandLineTest)
#include "commandline_test.moc"
