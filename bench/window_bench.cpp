// What the window costs beside the engine.
//   build/bench/tinsoke-bench-window [FILES] [ROUNDS]   (default 300 files, 3 rounds)
// Makes small PNGs and takes fresh copies of them through OptiPNG -o0, in
// turns: with `pelmora-tinsoke --run` (the whole program, start to end), and
// in the window, from the click on 実行 to the run's end. It prints the best
// time of each and their ratio; the window is held to 1.5 times --run's time.
#include "benchfiles.h"
#include "filelistmodel.h"
#include "freshform.h"
#include "messages.h"
#include "programstyle.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

double cliRun(const QString &settings, const QStringList &paths)
{
    QElapsedTimer clock;
    clock.start();
    QProcess program;
    program.start(QStringLiteral(TINSOKE_PROGRAM),
                  QStringList{QStringLiteral("--run"), QStringLiteral("--quiet"),
                              QStringLiteral("--settings"), settings} +
                      paths);
    program.waitForFinished(-1);
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

double windowRun(const QByteArray &settings, const QStringList &paths)
{
    FreshForm fresh{settings};
    fresh.showAndWait();
    fresh->addPaths(paths);
    QCoreApplication::processEvents();
    QEventLoop loop;
    QTimer watch; // the window tells no one of a run's end; it is looked for
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!fresh->runInProgress())
            loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    fresh.find<QPushButton>("Button1")->click();
    watch.start(1);
    loop.exec();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    // The rows as the run left them: every one with its OptiPNG size.
    for (int r = 0; r < fresh->fileList().rowCount(); ++r) {
        if (fresh->fileList()
                .ReadRow(r)
                .field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column)
                .isEmpty())
            std::fprintf(stderr, "row %d has no OptiPNG size\n", r);
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installProgramStyle();
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    messages::setHook([](QWidget *, const QString &, const QString &text, QMessageBox::Icon) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    QTemporaryDir work;
    const QString originals = work.filePath(QStringLiteral("originals"));
    QDir().mkpath(originals);
    for (int i = 0; i < count; ++i) {
        QImage image(48, 32, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 37 % 360, 160, 200));
        QPainter(&image).fillRect(i % 40, 4, 8, 20, Qt::black);
        image.save(originals + QStringLiteral("/%1.png").arg(i, 4, 10, QLatin1Char('0')));
    }
    const QByteArray settings = "[Option]\r\nSaveMode=0\r\nJobs=0\r\n"
                                "[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
                                "OptimizeLevel=0\r\n";
    const QString settingsFile = work.filePath(QStringLiteral("cli.ini"));
    {
        QFile f(settingsFile);
        f.open(QIODevice::WriteOnly);
        f.write(settings);
    }

    double cli = 1e9;
    double window = 1e9;
    for (int round = 0; round < rounds; ++round) {
        cli = std::min(
            cli, cliRun(settingsFile, copies(originals, work.filePath(QStringLiteral("cli")))));
        window = std::min(
            window, windowRun(settings, copies(originals, work.filePath(QStringLiteral("w")))));
    }
    std::printf("%d PNGs through OptiPNG -o0, best of %d\n", count, rounds);
    std::printf("  --run    %.3f s\n", cli);
    std::printf("  window   %.3f s\n", window);
    std::printf("  ratio    %.2f×   (held to ≤ 1.5×, aim 1.15×)\n", window / cli);
    return 0;
}
