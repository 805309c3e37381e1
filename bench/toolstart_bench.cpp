// What one tool start costs, the tool's own work included.
//   build/bench/tinsoke-bench-toolstart [FILES] [ROUNDS]   (default 300 files, 5 rounds)
// Makes small PNGs and takes each through `optipng -o0` with the tool runner,
// one after another, as a row's step does. Prints each round's time per
// start, wall-clock and CPU (ours, the tools' and anything between, which a
// busy machine disturbs less), and the best and median of them. Built from another tree's runner
// (the same two files and this one), it compares two versions of it.
#include "executeprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

// CPU time of this process and of every child it has reaped, in µs.
double cpuUs()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        total +=
            (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    }
    return total;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString optipng = QStringLiteral("/usr/bin/optipng");
    QTemporaryDir dir;
    QStringList inputs;
    for (int i = 0; i < files; ++i) {
        QImage image(32, 24, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb((x * 7 + i) & 255, (y * 11 + i) & 255, (x ^ y) & 255));
        inputs << dir.filePath(QStringLiteral("%1.png").arg(i));
        image.save(inputs.last());
    }
    const QString output = dir.filePath(QStringLiteral("out.png"));
    tinsoke::RunningTools running;
    std::vector<double> perStartUs;
    std::vector<double> cpuPerStartUs;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = cpuUs();
        // Each round in a thread of its own: a thread's tools run under a
        // guard that ends with the thread, and only then is what they used
        // counted among our children's CPU time.
        bool failed = false;
        std::thread worker([&] {
            for (const QString &input : std::as_const(inputs)) {
                const tinsoke::ToolOutcome o = tinsoke::runToolProcess(
                    optipng,
                    {QStringLiteral("-quiet"), QStringLiteral("-o0"), QStringLiteral("-clobber"),
                     QStringLiteral("-out"), output, input},
                    dir.path(), running);
                if (!o.exited || o.exitCode != 0) {
                    std::fprintf(stderr, "optipng failed on %s: %s\n", qPrintable(input),
                                 o.output.constData());
                    failed = true;
                    return;
                }
            }
        });
        worker.join();
        if (failed)
            return 1;
        perStartUs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0 / files);
        cpuPerStartUs.push_back((cpuUs() - cpuBefore) / files);
        std::printf("round %d: %.0f us per start, %.0f us CPU\n", round + 1, perStartUs.back(),
                    cpuPerStartUs.back());
    }
    std::printf("%d starts a round: best %.0f us, median %.0f us per start; CPU best %.0f us, "
                "median %.0f us\n",
                files, *std::min_element(perStartUs.begin(), perStartUs.end()), median(perStartUs),
                *std::min_element(cpuPerStartUs.begin(), cpuPerStartUs.end()),
                median(cpuPerStartUs));
    return 0;
}
