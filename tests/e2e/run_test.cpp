// Whole runs over real files: the optimizers Debian ships, and small fake
// tools that stand in for the others and for tools that misbehave. Every
// fault here once lost, swapped or broke a user's picture.
#include "finishedfiles.h"
#include "lvdata.h"
#include "optionwords.h"
#include "paths.h"
#include "picturecheck.h"
#include "pictures.h"
#include "runengine.h"
#include "runtexts.h"

#include <QEventLoop>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tinsoke;

namespace {

struct Finished {
    QList<RowResult> rows; // in list order
    RunSummary summary;
};

Finished runOver(RunPlan plan, const QStringList &paths,
                 const std::function<void(RunEngine &)> &whileRunning = {},
                 std::shared_ptr<FinishedFiles> memory = nullptr)
{
    QList<RowTask> tasks;
    for (int i = 0; i < paths.size(); ++i)
        tasks.append({i, paths.at(i), fileNameOf(paths.at(i))});
    RunEngine engine(std::move(plan), tasks, readPictureFacts, checkPictureChange);
    if (memory)
        engine.setMemory(std::move(memory), false);
    Finished f;
    QObject::connect(&engine, &RunEngine::rowFinished,
                     [&](const RowResult &r) { f.rows.append(r); });
    QEventLoop loop;
    QObject::connect(&engine, &RunEngine::finished, &loop, &QEventLoop::quit);
    engine.start();
    if (whileRunning)
        whileRunning(engine);
    loop.exec();
    std::sort(f.rows.begin(), f.rows.end(),
              [](const RowResult &a, const RowResult &b) { return a.row < b.row; });
    f.summary = engine.summary();
    return f;
}

RunPlan planWith(std::initializer_list<std::pair<Tool, ToolPlan>> tools, int method = 0)
{
    RunPlan plan;
    plan.saveMethod = saveMethodOf(method);
    for (const auto &[tool, p] : tools)
        plan.tools.at(static_cast<std::size_t>(tool)) = p;
    return plan;
}

ToolPlan use(Tool tool, const QString &program, const QStringList &words = {})
{
    return toolPlan(tool, true, program, words);
}

std::optional<qint64> column(const RowResult &r, Tool tool)
{
    for (const RowResult::StepSize &step : r.steps)
        if (step.listColumn == toolInfo(tool).column)
            return step.size;
    return std::nullopt;
}

} // namespace

class RunTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp; // the runs' TEMP
    QTemporaryDir work;
    QString fakes;

    QStringList tempLeftovers() const
    {
        return QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    QString at(const QString &relative) const { return work.filePath(relative); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TEMP", QFile::encodeName(temp.path()));
        fakes = at(QStringLiteral("fakes"));
    }
    void cleanup()
    {
        QDir(at(QStringLiteral("files"))).removeRecursively();
        QVERIFY2(tempLeftovers().isEmpty(), qPrintable(tempLeftovers().join(u' ')));
    }

    // The Debian optimizers under each save method: smaller, the same
    // picture, and what the user had (mode, time, links) kept.
    void realToolsUnderEachSaveMethod_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("in place") << 0;
        QTest::newRow("copy beside") << 1;
        QTest::newRow("result folder") << 2;
    }
    void realToolsUnderEachSaveMethod()
    {
        QFETCH(int, method);
        for (const char *t : {"jpegtran", "jpegoptim", "optipng", "pngcrush"})
            if (realTool(t).isEmpty())
                QSKIP("the Debian optimizers are not installed");
        const QString folder = at(QStringLiteral("files/写真 it's [1] (x) 😀"));
        const QString png = folder + QStringLiteral("/a b.png");
        const QString jpg = folder + QStringLiteral("/C.JPEG");
        const QImage picture = makePicture(420, 300);
        QVERIFY(savePicture(picture, png) && savePicture(picture, jpg));
        const QString link = folder + QStringLiteral("/second name.png");
        QCOMPARE(::link(QFile::encodeName(png).constData(), QFile::encodeName(link).constData()),
                 0);
        QCOMPARE(::chmod(QFile::encodeName(png).constData(), 0640), 0);
        const QDateTime old = QDateTime::currentDateTime().addDays(-30);
        {
            QFile f(png);
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QByteArray pngBefore = bytesOf(png);
        const QByteArray jpgBefore = bytesOf(jpg);
        const PictureFacts facts = readPictureFacts(png, ImageKind::Png);
        QVERIFY(facts.readable && !facts.colour.isEmpty());

        const Finished f = runOver(
            planWith(
                {{Tool::Jpegtran, use(Tool::Jpegtran, realTool("jpegtran"),
                                      jpegtranWords({true, false, false, false, 2, 0}))},
                 {Tool::Jpegoptim, use(Tool::Jpegoptim, realTool("jpegoptim"), jpegoptimWords({}))},
                 {Tool::OptiPNG,
                  use(Tool::OptiPNG, realTool("optipng"), optiPngWords({false, {}, 2}))},
                 {Tool::PNGCrush, use(Tool::PNGCrush, realTool("pngcrush"),
                                      {QStringLiteral("-l"), QStringLiteral("9")})}},
                method),
            {png, jpg});

        QVERIFY2(f.summary.problems.isEmpty(), qPrintable(reportText(f.summary)));
        const QString pngOut = f.rows.at(0).savedAs;
        const QString jpgOut = f.rows.at(1).savedAs;
        QCOMPARE(pngOut, method == 0   ? png
                         : method == 1 ? folder + QStringLiteral("/a b_.png")
                                       : folder + QStringLiteral("/Result_Tinsoke/a b.png"));
        if (method != 0) { // the listed files are not touched
            QCOMPARE(bytesOf(png), pngBefore);
            QCOMPARE(bytesOf(jpg), jpgBefore);
        }
        QVERIFY(bytesOf(pngOut).size() < pngBefore.size());
        QVERIFY(samePicture(readPictureFacts(pngOut, ImageKind::Png), facts));
        QCOMPARE(QString::number(bytesOf(pngOut).size()),
                 QString::number(*column(f.rows.at(0), Tool::PNGCrush)));
        QVERIFY(*column(f.rows.at(1), Tool::Jpegtran) < jpgBefore.size()); // -outfile works
        QVERIFY(samePicture(readPictureFacts(jpgOut, ImageKind::Jpeg),
                            readPictureFacts(jpg, ImageKind::Jpeg)));
        QCOMPARE(f.summary.done, 2);

        // What the user had stays: time, mode; both hard links see the result.
        QCOMPARE(QFileInfo(pngOut).lastModified(), old);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(pngOut).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        if (method == 0) {
            QCOMPARE(bytesOf(link), bytesOf(png));
        }
    }

    // One file under two names (a hard link in another folder, a link
    // beside it), several rows at once: no two rows wait for each other,
    // neither name is passed over, and the listed link stays a link.
    void twoNamesOfOneFile()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        const QString a = at(QStringLiteral("files/a/x.png"));
        const QString b = at(QStringLiteral("files/b/x.png"));
        const QString c = at(QStringLiteral("files/b/x_.png"));
        for (int round = 0; round < 8; ++round) {
            QDir(at(QStringLiteral("files"))).removeRecursively();
            QVERIFY(savePicture(makePicture(120, 90, round), a));
            QDir().mkpath(at(QStringLiteral("files/b")));
            QCOMPARE(::link(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()), 0);
            QVERIFY(QFile::link(a, c));
            const qint64 original = QFileInfo(a).size();
            RunPlan plan = planWith(
                {{Tool::OptiPNG, use(Tool::OptiPNG, realTool("optipng"), {QStringLiteral("-o1")})}},
                round % 3 == 0   ? 0
                : round % 3 == 1 ? 1
                                 : 2);
            plan.jobs = 3;
            const Finished f = runOver(plan, {a, b, c}, [](RunEngine &engine) {
                QTimer::singleShot(20000, &engine, [&engine] { engine.stop(); });
            });
            QVERIFY2(!f.summary.stopped, "rows waited for each other");
            QVERIFY2(f.summary.problems.isEmpty(), qPrintable(reportText(f.summary)));
            QVERIFY(QFileInfo(c).isSymLink());
            if (plan.saveMethod ==
                SaveMethod::InPlace) // the link's target, whichever name came first
                QVERIFY(QFileInfo(a).size() < original);
        }
    }

    // Tools that break, empty, enlarge or change the picture, in place or
    // into a second file, and tools that fail: the file stays byte-identical
    // and the report counts each reason.
    void faultyResultsLeaveTheFileAsItWas()
    {
        const QImage picture = makePicture(320, 240, 7);
        QImage changed = picture;
        changed.setPixel(5, 5, 0xff123456);
        const QString bad = at(QStringLiteral("bad"));
        QDir().mkpath(bad);
        QVERIFY(changed.save(bad + QStringLiteral("/pixel.png"), "PNG", 0));
        const QString a = at(QStringLiteral("files/a.png"));
        const QString b = at(QStringLiteral("files/b.png"));
        QVERIFY(savePicture(picture, a) && savePicture(picture, b));
        const QByteArray before = bytesOf(a);
        writeBytes(bad + QStringLiteral("/cut.png"), before.left(before.size() / 2));

        const QByteArray to = "eval out=\\${$#}; "; // the last argument
        const auto copyTool = [&](const char *name, const char *file) {
            return fakeTool(fakes, QString::fromLatin1(name),
                            to + "cat '" + QFile::encodeName(bad) + "/" + file + "' > \"$out\"");
        };
        const Finished f = runOver(
            planWith({{Tool::AdvPNG, use(Tool::AdvPNG, copyTool("pixel-inplace", "pixel.png"))},
                      {Tool::OptiPNG, use(Tool::OptiPNG, fakeTool(fakes, QStringLiteral("empties"),
                                                                  to + ": > \"$out\""))},
                      {Tool::PNGCrush, use(Tool::PNGCrush, copyTool("cut-second", "cut.png"))},
                      {Tool::PNGOUT,
                       use(Tool::PNGOUT, fakeTool(fakes, QStringLiteral("crash"),
                                                  "echo broken \"$1\" >&2; kill -SEGV $$"))},
                      {Tool::PNGRewrite,
                       use(Tool::PNGRewrite, fakeTool(fakes, QStringLiteral("fail"), "exit 3"))},
                      {Tool::cPNGC, use(Tool::cPNGC, work.path())}}), // a folder: cannot start
            {a, b});

        QCOMPARE(bytesOf(a), before);
        QCOMPARE(bytesOf(b), before);
        const QString report = reportText(f.summary);
        for (const QString &reason :
             {QStringLiteral("AdvPNG の結果は画素が元の画像と異なりました（2 件）"),
              QStringLiteral("OptiPNG の結果が壊れた画像でした（2 件）"),
              QStringLiteral("PNGCrush の結果が壊れた画像でした（2 件）"),
              QStringLiteral("PNGOUT が異常終了しました（シグナル 11）（2 件）"),
              QStringLiteral("PNGRewrite がエラーで終了しました（終了コード 3）（2 件）"),
              QStringLiteral("cPNGC を実行できません：実行できません (13)")})
            QVERIFY2(report.contains(reason), qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("出力：broken")));
        QVERIFY2(!report.contains(temp.path()), qPrintable(report)); // no file that is gone
        const RowResult &row = f.rows.at(0);
        QCOMPARE(*column(row, Tool::AdvPNG), before.size()); // the size before the tool
        QCOMPARE(*column(row, Tool::PNGRewrite), before.size());
        QVERIFY(!column(row, Tool::cPNGC)); // never ran: no size
        QCOMPARE(f.summary.done, 2);
    }

    // A run takes its tool runner as it is handed: every step, the user's
    // own after the built-in ones, gets a private copy in a folder of its
    // own, and what the runner plays (a smaller result, a failure, no start)
    // lands as a real tool's would.
    void eachStepGoesThroughTheHandedRunner()
    {
        QImage picture = makePicture(200, 150, 3);
        picture.setColorSpace(QColorSpace());
        const QString a = at(QStringLiteral("files/a.png"));
        QVERIFY(savePicture(picture, a));
        RunPlan plan =
            planWith({{Tool::AdvPNG, use(Tool::AdvPNG, QStringLiteral("/gone/advpng"))},
                      {Tool::PNGOUT, use(Tool::PNGOUT, QStringLiteral("/gone/pngout"))}});
        ExtraToolPlan own;
        own.name = QStringLiteral("mine");
        own.plan.use = true;
        own.plan.program = QStringLiteral("/gone/mine");
        own.plan.words = {QStringLiteral("--in={in}"), QStringLiteral("{out}")};
        plan.extras = {own};

        struct Call {
            QString program;
            QStringList arguments;
        };
        QList<Call> calls;
        QList<tinsoke::RowTask> tasks{{0, a, fileNameOf(a)}};
        RunEngine engine(plan, tasks, readPictureFacts, checkPictureChange);
        engine.setToolRunner([&](const QString &program, const QStringList &arguments,
                                 const QString &, RunningTools &) {
            calls.append({program, arguments}); // one row: the steps come one by one
            ToolOutcome o;
            o.exited = true;
            o.exitCode = 0;
            if (program.endsWith(QStringLiteral("advpng"))) // rewrites its file, smaller
                QImage(arguments.last()).save(arguments.last(), "PNG", 0);
            else if (program.endsWith(QStringLiteral("pngout")))
                o.startError = ENOENT;
            else
                o.exitCode = 5;
            return o;
        });
        QList<RowResult> rows;
        connect(&engine, &RunEngine::rowFinished, [&](const RowResult &r) { rows.append(r); });
        QEventLoop loop;
        connect(&engine, &RunEngine::finished, &loop, &QEventLoop::quit);
        engine.start();
        loop.exec();

        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls.at(2).program, QStringLiteral("/gone/mine"));
        QStringList inputs;
        for (const Call &c : std::as_const(calls)) {
            const QString input = c.program.endsWith(QStringLiteral("mine"))
                                      ? c.arguments.first().mid(5)
                                      : c.arguments.last();
            QVERIFY2(input.startsWith(temp.path()), qPrintable(input)); // never the user's file
            inputs << QFileInfo(input).absolutePath();
        }
        inputs.removeDuplicates();
        QCOMPARE(inputs.size(), 3); // a folder of its own for each step
        QVERIFY(calls.at(2).arguments.at(1) != calls.at(2).arguments.first().mid(5));

        QCOMPARE(rows.size(), 1);
        const RowResult &row = rows.first();
        QCOMPARE(row.kept, QStringList{QStringLiteral("AdvPNG")});
        QVERIFY(row.after < row.before);
        QCOMPARE(QFileInfo(a).size(), row.after);
        QCOMPARE(QImage(a).convertToFormat(QImage::Format_RGB32),
                 picture.convertToFormat(QImage::Format_RGB32));
        QVERIFY(!column(row, Tool::PNGOUT)); // it did not start
        QCOMPARE(row.steps.size(), 3);
        QCOMPARE(row.steps.last().listColumn, TLVData::FieldCount); // the user's first
        QCOMPARE(*row.steps.last().size, row.after);                // ran, kept nothing
        QCOMPARE(row.problems.size(), 2);
        QCOMPARE(row.problems.at(0).reason, RunProblem::Reason::ToolNotStarted);
        QCOMPARE(row.problems.at(1).reason, RunProblem::Reason::ToolExitCode);
        QCOMPARE(row.problems.at(1).tool, QStringLiteral("mine"));
        QCOMPARE(row.problems.at(1).exitCode, 5);
    }

    // FIFOs, sockets and devices never block a run; files gone, unreadable
    // or replaced by a folder are passed over with empty columns.
    void onlyRegularFilesAreOpened()
    {
        const QString log = at(QStringLiteral("ran"));
        const QString tool = fakeTool(fakes, QStringLiteral("log"),
                                      "echo \"$1\" >> '" + QFile::encodeName(log) + "'");
        const QString fifo = at(QStringLiteral("files/x.png"));
        QDir().mkpath(at(QStringLiteral("files/folder.png")));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString device = at(QStringLiteral("files/zero.png"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), device));
        const QString locked = at(QStringLiteral("files/locked.png"));
        QVERIFY(savePicture(makePicture(40, 30), locked));
        QFile::setPermissions(locked, {});
        const bool root = ::geteuid() == 0;
        const QString gone = at(QStringLiteral("files/gone.png"));

        const Finished f =
            runOver(planWith({{Tool::OptiPNG, use(Tool::OptiPNG, tool)}}, 1),
                    {fifo, device, at(QStringLiteral("files/folder.png")), gone, locked});
        QCOMPARE(f.summary.passedOver, root ? 4 : 5);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(f.rows.at(i).outcome, RowResult::Outcome::PassedOver);
            QVERIFY(!column(f.rows.at(i), Tool::OptiPNG));
        }
        const QString report = reportText(f.summary);
        QVERIFY2(report.contains(QStringLiteral("通常のファイルではありません（3 件）")),
                 qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("ファイルが見つかりません（1 件）")));
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("files/x_.png"))));
    }

    // Copies take free names; a result folder per run; same names in one
    // folder; nothing of the user's overwritten.
    void copiesTakeFreeNames()
    {
        const QString a = at(QStringLiteral("files/a.png"));
        const QString other = at(QStringLiteral("files/sub/a.png"));
        QVERIFY(savePicture(makePicture(60, 40, 1), a) &&
                savePicture(makePicture(60, 40, 2), other));
        writeBytes(at(QStringLiteral("files/a_.png")), "someone else's");
        runOver(planWith({}, 1), {a});
        QCOMPARE(bytesOf(at(QStringLiteral("files/a__.png"))), bytesOf(a));
        QCOMPARE(bytesOf(at(QStringLiteral("files/a_.png"))), QByteArray("someone else's"));
        for (const QString &f :
             {QStringLiteral("Result_Tinsoke"), QStringLiteral("Result_Tinsoke_")}) {
            runOver(planWith({}, 2), {a, other});
            QCOMPARE(bytesOf(at(QStringLiteral("files/") + f + QStringLiteral("/a.png"))),
                     bytesOf(a));
            QCOMPARE(bytesOf(at(QStringLiteral("files/") + f + QStringLiteral("/a_.png"))),
                     bytesOf(other));
        }
        const Finished none = runOver(planWith({}, -1), {a});
        QVERIFY(reportText(none.summary).contains(QStringLiteral("保存方法が選択されていません")));
    }

    // Two runs at once over different files, sharing one TEMP: each file
    // gets its own picture back.
    void twoRunsShareNothing()
    {
        const QString tool = realTool("pngcrush");
        if (tool.isEmpty())
            QSKIP("pngcrush is not installed");
        QStringList first, second;
        for (int i = 0; i < 6; ++i) {
            first << at(QStringLiteral("files/one/%1.png").arg(i));
            second << at(QStringLiteral("files/two/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(64, 48, i), first.last()));
            QVERIFY(savePicture(makePicture(64, 48, 100 + i), second.last()));
        }
        QList<QByteArray> before;
        for (const QString &p : first + second)
            before << bytesOf(p);
        QList<RowTask> a, b;
        for (int i = 0; i < 6; ++i) {
            a.append({i, first.at(i), fileNameOf(first.at(i))});
            b.append({i, second.at(i), fileNameOf(second.at(i))});
        }
        RunPlan plan =
            planWith({{Tool::PNGCrush,
                       use(Tool::PNGCrush, tool, {QStringLiteral("-l"), QStringLiteral("9")})}},
                     1);
        plan.jobs = 3;
        RunEngine one(plan, a, readPictureFacts, checkPictureChange);
        RunEngine two(plan, b, readPictureFacts, checkPictureChange);
        int left = 2;
        QEventLoop loop;
        for (RunEngine *e : {&one, &two})
            connect(e, &RunEngine::finished, [&] {
                if (--left == 0)
                    loop.quit();
            });
        one.start();
        two.start();
        loop.exec();
        const QStringList all = first + second;
        for (int i = 0; i < all.size(); ++i) {
            const QString copy = withUnderscoreBeforeExtension(all.at(i));
            QVERIFY(bytesOf(copy).size() < before.at(i).size());
            QVERIFY(samePicture(readPictureFacts(copy, ImageKind::Png),
                                readPictureFacts(all.at(i), ImageKind::Png)));
        }
    }

    // Stop a second into slow tools: within moments no tool is left, every
    // file is as it was, TEMP is clean.
    void stopEndsEveryToolAndKeepsFilesWhole()
    {
        const QString marker = QStringLiteral("tinsoke-slow-%1").arg(::getpid());
        const QString tool = fakeTool(fakes, marker, "eval out=\\${$#}; : > \"$out\"; sleep 30");
        QStringList paths;
        QList<QByteArray> before;
        for (int i = 0; i < 4; ++i) {
            paths << at(QStringLiteral("files/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(64, 48, i), paths.last()));
            before << bytesOf(paths.last());
        }
        RunPlan plan = planWith({{Tool::OptiPNG, use(Tool::OptiPNG, tool)}});
        plan.jobs = 2;
        QElapsedTimer clock;
        const Finished f = runOver(plan, paths, [&](RunEngine &engine) {
            QTimer::singleShot(1000, &engine, [&] {
                clock.start();
                engine.stop();
            });
        });
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!toolsRunning(marker));
        QVERIFY(f.summary.stopped);
        QCOMPARE(f.rows.size(), 2); // the two in flight; the others never started
        for (int i = 0; i < paths.size(); ++i)
            QCOMPARE(bytesOf(paths.at(i)), before.at(i));
    }

    // Another program's change while a tool works wins. An edit in place that
    // keeps the size and a whole-second time (as exiftool -P does), in a file
    // of one name and in one of two, stays; a picture put in the file's place
    // is not remembered as finished, so the next run optimizes it.
    void anotherProgramsChangeWins()
    {
        if (realTool("jpegtran").isEmpty() || realTool("optipng").isEmpty())
            QSKIP("the Debian optimizers are not installed");
        QImage photo = makePicture(420, 300, 5);
        photo.setText(QStringLiteral("Comment"), QStringLiteral("Artist=Ann"));
        const QString one = at(QStringLiteral("files/one.jpg"));
        const QString two = at(QStringLiteral("files/two.jpg"));
        for (const QString &path : {one, two}) {
            QVERIFY(savePicture(photo, path));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::fromSecsSinceEpoch(1700000000),
                                  QFileDevice::FileModificationTime));
        }
        QCOMPARE(::link(QFile::encodeName(two).constData(),
                        QFile::encodeName(two + QStringLiteral(".second")).constData()),
                 0);
        for (const QString &path : {one, two}) {
            const QByteArray target = QFile::encodeName(path);
            const QString tool = fakeTool(
                fakes, QStringLiteral("edits-") + fileNameOf(path),
                "f='" + target +
                    "'; t=$(stat -c %Y \"$f\")\n"
                    "at=$(grep -abo Artist=Ann \"$f\" | head -n 1 | cut -d: -f1)\n"
                    "printf Artist=Bob | dd of=\"$f\" bs=1 seek=$at conv=notrunc 2>/dev/null\n"
                    "touch -m -d @$t \"$f\"\nexec /usr/bin/jpegtran \"$@\"");
            QByteArray edited = bytesOf(path);
            QVERIFY(edited.contains("Artist=Ann"));
            edited.replace("Artist=Ann", "Artist=Bob");
            const Finished f =
                runOver(planWith({{Tool::Jpegtran,
                                   use(Tool::Jpegtran, tool, {QStringLiteral("-optimize")})}}),
                        {path});
            QCOMPARE(bytesOf(path), edited);
            QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), 1700000000);
            QCOMPARE(f.rows.at(0).outcome, RowResult::Outcome::PassedOver);
            QCOMPARE(f.summary.problems.value(0).reason, RunProblem::Reason::FileChangedDuringRun);
        }

        // Two pictures of one size: the chain cannot shrink the first (its
        // tool does nothing), and a program puts the second in its place.
        const QString png = at(QStringLiteral("files/swap.png"));
        const QString other = at(QStringLiteral("other.png"));
        QVERIFY(savePicture(makePicture(200, 150, 1), png));
        QVERIFY(savePicture(makePicture(200, 150, 2), other));
        QCOMPARE(QFileInfo(png).size(), QFileInfo(other).size());
        const QString mark = at(QStringLiteral("swapped"));
        QFile::remove(mark);
        const QString swaps = fakeTool(
            fakes, QStringLiteral("swaps"),
            "if [ ! -e '" + QFile::encodeName(mark) + "' ]; then : > '" + QFile::encodeName(mark) +
                "'; cp '" + QFile::encodeName(other) + "' '" + QFile::encodeName(png) +
                ".new' && mv '" + QFile::encodeName(png) + ".new' '" + QFile::encodeName(png) +
                "'; exit 0; fi\nexec /usr/bin/optipng \"$@\"");
        const auto memory =
            std::make_shared<FinishedFiles>(at(QStringLiteral("files/finished.db")));
        const RunPlan plan =
            planWith({{Tool::OptiPNG, use(Tool::OptiPNG, swaps, {QStringLiteral("-o1")})}});
        const Finished first = runOver(plan, {png}, {}, memory);
        QCOMPARE(bytesOf(png), bytesOf(other));
        QCOMPARE(first.summary.problems.value(0).reason, RunProblem::Reason::FileChangedDuringRun);
        const Finished second = runOver(plan, {png}, {}, memory);
        QCOMPARE(second.rows.at(0).outcome, RowResult::Outcome::Done);
        QVERIFY(QFileInfo(png).size() < QFileInfo(other).size());
    }

    // A full disk under each save method: the file byte-identical, the
    // failure told, nothing left behind. Needs a small file system of its own.
    void fullDiskLeavesEveryFileWhole()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small file system");
        const QString disk = at(QStringLiteral("disk"));
        QDir().mkpath(disk);
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=160k") != 0)
            QSKIP("mounting a small file system was refused");
        const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH); });
        // A tool that halves the file (a whole, smaller, same picture), then
        // the disk fills up before the result is written.
        const QImage picture = makePicture(200, 150, 3);
        const QString small = at(QStringLiteral("small.png"));
        QVERIFY(picture.save(small, "PNG", 0));
        const QString tool = fakeTool(fakes, QStringLiteral("shrink"),
                                      "cat '" + QFile::encodeName(small) +
                                          "' > \"$1\"; head -c 200000 /dev/zero > '" +
                                          QFile::encodeName(disk) + "/filler' 2>/dev/null; exit 0");
        const QString a = disk + QStringLiteral("/a.png");
        QVERIFY(savePicture(picture, a));
        const QByteArray before = bytesOf(a);
        QVERIFY(before.size() > bytesOf(small).size());
        for (const int method : {0, 1, 2}) {
            QFile::remove(disk + QStringLiteral("/filler"));
            const Finished f =
                runOver(planWith({{Tool::OptiPNG, use(Tool::OptiPNG, tool)}}, method), {a});
            QCOMPARE(bytesOf(a), before);
            QCOMPARE(f.summary.passedOver, 1);
            QVERIFY2(reportText(f.summary).contains(method == 0
                                                        ? QStringLiteral("結果を書き込めません")
                                                        : QStringLiteral("作成できません")),
                     qPrintable(reportText(f.summary)));
            const QStringList left =
                QDir(disk).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
            const QSet<QString> expected{QStringLiteral("a.png"), QStringLiteral("filler"),
                                         QStringLiteral("Result_Tinsoke")};
            QVERIFY2((QSet<QString>(left.begin(), left.end()) - expected).isEmpty(),
                     qPrintable(left.join(u' ')));
        }
    }
};

QTEST_MAIN(RunTest)
#include "run_test.moc"
