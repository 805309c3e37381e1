// What a run costs beyond the tools' own time.
//   build/bench/tinsoke-bench-run [FILES] [JOBS]   (default 40 files, one job per core)
// Makes realistic PNGs (photo- and screenshot-like, a few hundred KB) and
// takes fresh copies of them through OptiPNG -o2 and AdvPNG -z2:
//   1. with the run engine, Jobs as given, the result check on;
//   2. the same without decoding pictures (the check's share of the time);
//   3. the same command lines through `xargs -P JOBS`;
//   4. the same command lines one after another;
//   5. 200 small PNGs through OptiPNG -o1, tools that end in moments.
// It prints each time, the ratios the run engine is held to, and the longest
// gap between two 10 ms ticks of the event loop during runs 1 and 5.
#include "benchfiles.h"
#include "optionwords.h"
#include "paths.h"
#include "picturecheck.h"
#include "runengine.h"
#include "runtexts.h"

#include <QColorSpace>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

QImage picture(int i)
{
    QImage image(900, 650, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 900, 650);
    g.setColorAt(0, QColor::fromHsv(i * 29 % 360, 180, 160));
    g.setColorAt(1, QColor::fromHsv(i * 53 % 360, 90, 240));
    p.fillRect(image.rect(), g);
    p.setFont(QFont(QStringLiteral("Sans"), 11));
    for (int y = 0; y < 650; y += 22)
        p.drawText(
            10, y + 16,
            QStringLiteral("file %1 line %2 — the quick brown fox 0123456789").arg(i).arg(y));
    p.end();
    QRandomGenerator random(static_cast<quint32>(i));
    for (int y = 300; y < 420; ++y) // a photo-like patch
        for (int x = 0; x < 400; ++x)
            image.setPixel(x, y, image.pixel(x, y) ^ (random.generate() & 0x070707u));
    if (i % 2) // half of them carry a colour profile, as many screenshots do
        image.setColorSpace(QColorSpace::SRgb);
    return image;
}

struct Timed {
    double seconds = 0;
    qint64 longestGapMs = 0;
};

Timed runEngine(const QStringList &paths, int jobs, const tinsoke::PictureReader &reader,
                bool shortTools = false)
{
    tinsoke::RunPlan plan;
    plan.jobs = jobs;
    plan.tools[static_cast<std::size_t>(tinsoke::Tool::AdvPNG)] =
        tinsoke::toolPlan(tinsoke::Tool::AdvPNG, !shortTools, QStringLiteral("/usr/bin/advpng"),
                          {QStringLiteral("-z"), QStringLiteral("-2")});
    plan.tools[static_cast<std::size_t>(tinsoke::Tool::OptiPNG)] =
        tinsoke::toolPlan(tinsoke::Tool::OptiPNG, true, QStringLiteral("/usr/bin/optipng"),
                          {shortTools ? QStringLiteral("-o1") : QStringLiteral("-o2")});
    QList<tinsoke::RowTask> rows;
    for (int i = 0; i < paths.size(); ++i)
        rows.append({i, paths.at(i), tinsoke::fileNameOf(paths.at(i))});
    tinsoke::RunEngine engine(plan, rows, reader, tinsoke::checkPictureChange);
    QEventLoop loop;
    QObject::connect(&engine, &tinsoke::RunEngine::finished, &loop, &QEventLoop::quit);
    Timed t;
    QElapsedTimer tick;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { t.longestGapMs = qMax(t.longestGapMs, tick.restart()); });
    QElapsedTimer clock;
    clock.start();
    tick.start();
    ticker.start();
    engine.start();
    loop.exec();
    t.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const tinsoke::RunSummary &s = engine.summary();
    if (!s.problems.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(tinsoke::reportText(s)));
    std::printf("    %d files, %s → %s\n", s.done, qPrintable(tinsoke::formatBytes(s.before)),
                qPrintable(tinsoke::formatBytes(s.after)));
    return t;
}

double runShell(const QString &script)
{
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing the sample pictures needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 40;
    const int jobs = tinsoke::effectiveJobs(argc > 2 ? std::atoi(argv[2]) : 0);
    if (!QFile::exists(QStringLiteral("/usr/bin/optipng")) ||
        !QFile::exists(QStringLiteral("/usr/bin/advpng"))) {
        std::fprintf(stderr, "needs /usr/bin/optipng and /usr/bin/advpng\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString originals = dir.filePath(QStringLiteral("originals"));
    QDir().mkpath(originals);
    qint64 total = 0;
    for (int i = 0; i < files; ++i) {
        const QString path = originals + QStringLiteral("/p%1.png").arg(i, 3, 10, QLatin1Char('0'));
        picture(i).save(path, "PNG", 80);
        total += QFileInfo(path).size();
    }
    std::printf("%d PNGs, %s in all, %d jobs\n", files, qPrintable(tinsoke::formatBytes(total)),
                jobs);
    const QString work = dir.filePath(QStringLiteral("work"));

    std::printf("run engine, result check on:\n");
    const Timed checked = runEngine(copies(originals, work), jobs, tinsoke::readPictureFacts);
    std::printf("run engine, pictures not decoded:\n");
    const Timed unchecked =
        runEngine(copies(originals, work), jobs, [](const QString &, tinsoke::ImageKind) {
            tinsoke::PictureFacts f;
            f.readable = true;
            return f;
        });

    // The same lines from a shell, quiet as the run keeps them.
    copies(originals, work);
    const QString perFile = QStringLiteral("f=\"$0\"; /usr/bin/advpng -z -2 \"$f\" >/dev/null "
                                           "2>&1; /usr/bin/optipng -o2 \"$f\" >/dev/null 2>&1");
    const double parallel =
        runShell(QStringLiteral("ls '%1'/*.png | xargs -d '\\n' -P %2 -n 1 sh -c '%3'")
                     .arg(work)
                     .arg(jobs)
                     .arg(perFile));
    copies(originals, work);
    const double sequential = runShell(
        QStringLiteral("for f in '%1'/*.png; do /usr/bin/advpng -z -2 \"$f\" >/dev/null 2>&1; "
                       "/usr/bin/optipng -o2 \"$f\" >/dev/null 2>&1; done")
            .arg(work));

    // Short tools: many small files, each done in a few milliseconds, so
    // results reach the event loop as fast as they can.
    const QString small = dir.filePath(QStringLiteral("small"));
    QDir().mkpath(small);
    for (int i = 0; i < 200; ++i)
        picture(i).scaled(120, 90).save(small + QStringLiteral("/s%1.png").arg(i), "PNG", 100);
    std::printf("run engine, 200 small files through optipng -o1:\n");
    const Timed quick = runEngine(copies(small, work), jobs, tinsoke::readPictureFacts, true);

    std::printf("\n%-40s %8.2f s\n", "run engine (check on)", checked.seconds);
    std::printf("%-40s %8.2f s\n", "run engine (no decoding)", unchecked.seconds);
    std::printf("%-40s %8.2f s\n", qPrintable(QStringLiteral("xargs -P %1").arg(jobs)), parallel);
    std::printf("%-40s %8.2f s\n", "sequential shell loop", sequential);
    std::printf("\nrun / xargs:              %.3f   (held to at most 1.15)\n",
                checked.seconds / parallel);
    std::printf("run / sequential:         %.3f\n", checked.seconds / sequential);
    std::printf("check adds:               %+.1f %%  (held to at most 10 %%)\n",
                100.0 * (checked.seconds - unchecked.seconds) / unchecked.seconds);
    std::printf("longest event-loop gap:   %lld ms; with short tools %lld ms "
                "(held to at most 120 ms)\n",
                static_cast<long long>(checked.longestGapMs),
                static_cast<long long>(quick.longestGapMs));
    return 0;
}
