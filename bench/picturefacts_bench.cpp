// What the result gate's picture check costs.
//   build/bench/tinsoke-bench-picturefacts
// Makes a noisy 1000x700 PNG and a JPEG of about 300 KB, reads the facts of
// each many times and prints the median; where optipng is installed, also
// the time optipng -o2 takes over the same PNG, and the share the check adds
// to it (a result and its original are both read: two checks a step).
#include "picturecheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Gradients with noise on top: about what a photo or a screenshot with grain gives.
QImage noisyPicture(int width, int height, int noise)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(QRandomGenerator::global()->bounded(noise));
            line[x] = qRgb((x / 4 + n) & 255, (y / 3 + n) & 255, ((x + y) / 8 + n) & 255);
        }
    }
    return image;
}

double medianMs(const QString &path, tinsoke::ImageKind kind)
{
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer timer;
        timer.start();
        const tinsoke::PictureFacts facts = tinsoke::readPictureFacts(path, kind);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!facts.readable)
            std::fprintf(stderr, "not readable: %s\n", qPrintable(facts.why));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("noisy.png"));
    const QString jpeg = dir.filePath(QStringLiteral("noisy.jpg"));
    noisyPicture(1000, 700, 4).save(png, "png");
    noisyPicture(1000, 700, 40).save(jpeg, "jpeg", 86);

    const double pngMs = medianMs(png, tinsoke::ImageKind::Png);
    const double jpegMs = medianMs(jpeg, tinsoke::ImageKind::Jpeg);
    std::printf("PNG  1000x700, %lld bytes: %.1f ms a check\n", QFile(png).size(), pngMs);
    std::printf("JPEG 1000x700, %lld bytes: %.1f ms a check\n", QFile(jpeg).size(), jpegMs);

    if (QStandardPaths::findExecutable(QStringLiteral("optipng")).isEmpty())
        return 0;
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("optipng"),
                      {QStringLiteral("-quiet"), QStringLiteral("-o2"), QStringLiteral("-out"),
                       dir.filePath(QStringLiteral("out.png")), png});
    const double toolMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("optipng -o2 over the PNG: %.0f ms; two checks add %.1f %%\n", toolMs,
                200.0 * pngMs / toolMs);
    return 0;
}
