// What a second run over finished files costs: the first run, the second
// run and a b2sum pass over the same pictures, side by side.
//
//   tinsoke-bench-memory [count] [jobs]     (2000 pictures of about 100 KB)
#include "pictures.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

double secondsOf(const QString &program, const QStringList &arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s: exit %d\n", qPrintable(program), p.exitCode());
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the pictures are drawn, never shown
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const QString jobs = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("0");
    QTemporaryDir dir;
    const QString pictures = dir.filePath(QStringLiteral("pictures"));
    qint64 bytes = 0;
    // Half photos, half PNGs, about 100 KB each; none alike.
    for (int i = 0; i < count; ++i) {
        const bool png = i % 2 == 1;
        const QString path =
            pictures + QStringLiteral("/%1.%2").arg(i).arg(QLatin1String(png ? "png" : "jpg"));
        savePicture(makePicture(png ? 220 : 560, png ? 165 : 420, quint32(i)), path);
        bytes += QFileInfo(path).size();
    }
    const QString ini = dir.filePath(QStringLiteral("bench.ini"));
    writeBytes(ini, "[Option]\r\nSaveMode=0\r\nJobs=" + jobs.toLatin1() +
                        "\r\n[Jpegtran]\r\nUse=Yes\r\nPath=/usr/bin/jpegtran\r\nOptimize=Yes\r\n"
                        "Progressive=No\r\nGrayscale=No\r\nTrim=No\r\nCopyMode=2\r\n"
                        "ModifyMode=0\r\n[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
                        "UseParam=No\r\nParam=\r\nOptimizeLevel=1\r\n");
    const QStringList run{QStringLiteral("--run"), QStringLiteral("--quiet"),
                          QStringLiteral("--settings"), ini, pictures};
    std::printf("%d pictures, %.1f MB, jobs %s\n", count, double(bytes) / 1e6, qPrintable(jobs));
    const double first = secondsOf(QStringLiteral(TINSOKE_PROGRAM), run);
    const double second = secondsOf(QStringLiteral(TINSOKE_PROGRAM), run);
    const double hashed =
        secondsOf(QStringLiteral("sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("find '%1' -type f -print0 | xargs -0 b2sum").arg(pictures)});
    // Times changed, bytes not: known by content, hashed on the workers.
    QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("find '%1' -type f -exec touch {} +").arg(pictures)});
    const double touched = secondsOf(QStringLiteral(TINSOKE_PROGRAM), run);
    std::printf("%-34s %8.3f s\n", "first run", first);
    std::printf("%-34s %8.3f s  %5.2fx b2sum\n", "second run (known by entry)", second,
                second / hashed);
    std::printf("%-34s %8.3f s  %5.2fx b2sum\n", "after touch (known by content)", touched,
                touched / hashed);
    std::printf("%-34s %8.3f s  (anchor; target: second run <= 1.5x, aim 0.5x)\n",
                "find | xargs b2sum", hashed);
    return 0;
}
