// What the whole-picture check costs on camera photos, against the tools
// alone.
//   build/bench/tinsoke-bench-photos [--jpegs N] [--pngs N] [--rounds N] [--keep DIR]
//                                    [PROGRAM ...]
// Makes camera-like JPEGs (12 and 20 megapixels, 2–8 MB, an EXIF with its
// orientation and an ICC profile) and PNG screenshots, ticks every optimizer
// found in /usr/bin with its default options, and takes fresh copies through
// each PROGRAM's `--run --jobs 2` (default: this build's) and through the
// same command lines, as the program's own --dry-run prints them, under
// `xargs -P 2`. Rounds alternate the runs; each figure is printed with the
// load average before it, then each program's best wall and CPU time
// beside the loop's.
#include "benchfiles.h"
#include "metadata.h"
#include "picturecheck.h"
#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>

namespace {

// A photo: soft light, shapes, fine detail and the sensor's noise, which is
// what makes a camera's JPEG large.
QImage cameraPicture(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    const double fx = 0.002 + 0.001 * (seed % 5), fy = 0.003 + 0.0007 * (seed % 7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double light = std::sin(x * fx) * std::cos(y * fy);
            const double detail = std::sin((x + 3 * y) * 0.07) * std::cos(x * 0.11);
            const int n = int(random.bounded(17)) - 8;
            line[x] = qRgb(std::clamp(int(128 + 90 * light + 20 * detail) + n, 0, 255),
                           std::clamp(int(110 + 60 * light - 25 * detail) + n, 0, 255),
                           std::clamp(int(100 - 50 * light + 30 * detail) + n, 0, 255));
        }
    }
    return image;
}

// A camera's file: its JPEG at high quality with an EXIF, a profile, a comment.
QByteArray cameraJpeg(int width, int height, quint32 seed)
{
    return phonePhoto(cameraPicture(width, height, seed), 95);
}

// A screenshot: windows, lists of text, a toolbar, a photo in a corner.
QImage screenshot(int width, int height, int i)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 236));
    QPainter p(&image);
    p.setFont(QFont(QStringLiteral("Sans"), 10));
    for (int w = 0; w < 3; ++w) {
        const QRect r(40 + w * 300 + i * 7, 60 + w * 120, width / 2, height / 2);
        p.fillRect(r, Qt::white);
        p.fillRect(r.x(), r.y(), r.width(), 28, QColor::fromHsv((i * 40 + w * 90) % 360, 90, 200));
        p.setPen(Qt::black);
        for (int line = 0; line * 18 + 40 < r.height(); ++line)
            p.drawText(r.x() + 10, r.y() + 44 + line * 18,
                       QStringLiteral("%1  file_%2.txt  %3 KB  2026-05-%4 09:%5")
                           .arg(line + 1)
                           .arg(line * 31 + w)
                           .arg(line * 17 % 900)
                           .arg(line % 28 + 1)
                           .arg(line % 60));
    }
    p.drawImage(width - 420, height - 300, cameraPicture(400, 280, quint32(i + 100)));
    p.end();
    return image;
}

struct Cost {
    double wall = 0;
    double cpu = 0; // user and system, of everything it started
};

double cpuOf(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double childrenCpu()
{
    return cpuOf(RUSAGE_CHILDREN);
}

// The least any whole check can cost: every original and the result the
// program saved for it, each read once as a run reads them, and compared.
double leastCheck(const QStringList &originals, const QStringList &results)
{
    const double before = cpuOf(RUSAGE_SELF);
    for (qsizetype i = 0; i < originals.size(); ++i) {
        const auto kind =
            originals.at(i).endsWith(u".png") ? tinsoke::ImageKind::Png : tinsoke::ImageKind::Jpeg;
        const tinsoke::PictureFacts a = tinsoke::readFactsForRun(originals.at(i), kind);
        const tinsoke::PictureFacts b = tinsoke::readFactsForRun(results.at(i), kind);
        if (!tinsoke::samePixels(a, b))
            std::fprintf(stderr, "%s: not the same picture\n", qPrintable(results.at(i)));
    }
    return cpuOf(RUSAGE_SELF) - before;
}

QString load()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2)
                                       : QStringLiteral("?");
}

Cost timed(const QString &program, const QStringList &arguments)
{
    const double cpuBefore = childrenCpu();
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        std::fprintf(stderr, "%s ended with %d\n", qPrintable(program), p.exitCode());
    return {double(clock.nsecsElapsed()) / 1e9, childrenCpu() - cpuBefore};
}

// The shell's words for one file, from the dry run's tool lines: the copy is
// the file itself, and a result written beside it replaces it, as the run
// takes a result.
QString perFileScript(const QString &program, const QString &settings, const QString &sample)
{
    QProcess dry;
    dry.start(program, {QStringLiteral("--run"), QStringLiteral("--dry-run"),
                        QStringLiteral("--settings"), settings, sample});
    dry.waitForFinished(-1);
    QString script;
    for (const QString &line : QString::fromUtf8(dry.readAllStandardOutput()).split(u'\n')) {
        if (!line.startsWith(QStringLiteral("  ")) || !line.contains(QStringLiteral("{コピー}")))
            continue;
        QString command = line.section(u'\t', 1);
        const bool beside = command.contains(QStringLiteral("{コピー}.jpg"));
        const bool other = command.contains(QStringLiteral("{出力}"));
        command.replace(QStringLiteral("{コピー}.jpg"), QStringLiteral("\"$f.jpg\""))
            .replace(QStringLiteral("{コピー}"), QStringLiteral("\"$f\""))
            .replace(QStringLiteral("{出力}"), QStringLiteral("\"$f.out\""));
        script += command + QStringLiteral(" >/dev/null 2>&1; ");
        if (beside || other) {
            const QString out =
                beside ? QStringLiteral("\"$f.jpg\"") : QStringLiteral("\"$f.out\"");
            script += QStringLiteral("[ -s %1 ] && mv -f %1 \"$f\"; rm -f %1; ").arg(out);
        }
    }
    return script;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int jpegs = 10, pngs = 4, rounds = 2;
    QString keep; // a folder the pictures and the settings are left in, for profiling by hand
    QStringList programs;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--jpegs")
            jpegs = args.value(++i).toInt();
        else if (args.at(i) == u"--pngs")
            pngs = args.value(++i).toInt();
        else if (args.at(i) == u"--keep")
            keep = args.value(++i);
        else if (args.at(i) == u"--rounds")
            rounds = std::max(1, args.value(++i).toInt());
        else
            programs << args.at(i);
    }
    if (programs.isEmpty())
        programs << QStringLiteral(TINSOKE_PROGRAM);

    QTemporaryDir dir;
    const QString originals = dir.filePath(QStringLiteral("originals"));
    QDir().mkpath(originals);
    qint64 jpegBytes = 0, pngBytes = 0;
    for (int i = 0; i < jpegs; ++i) {
        const bool large = i % 3 == 2;
        const QByteArray jpeg = cameraJpeg(large ? 5472 : 4000, large ? 3648 : 3000, quint32(i));
        QFile f(originals + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
        f.write(jpeg);
        jpegBytes += jpeg.size();
    }
    for (int i = 0; i < pngs; ++i) {
        const QString path = originals + QStringLiteral("/shot%1.png").arg(i);
        screenshot(i % 2 ? 1920 : 1366, i % 2 ? 1080 : 768, i).save(path, "PNG");
        pngBytes += QFileInfo(path).size();
    }

    // Every optimizer Debian has, with the program's default options, but
    // Jpegtran's optimized and progressive coding ticked, as one would.
    QByteArray ini;
    QStringList ticked;
    QString program;
    for (const QByteArray &line : tinsoke::defaultSettingsText().split('\n')) {
        const QByteArray key = line.trimmed();
        if (key.startsWith('[')) {
            const QString section = QString::fromLatin1(key.mid(1, key.size() - 2));
            program = QStringLiteral("/usr/bin/") + section.toLower();
            if (!QFile::exists(program) || section == u"Option" || section == u"Set")
                program.clear();
            else
                ticked << section;
        } else if (!program.isEmpty() && key.startsWith("Use =")) {
            ini += "Use =Yes\r\n";
            continue;
        } else if (!program.isEmpty() && key.startsWith("Path =")) {
            ini += "Path =" + program.toUtf8() + "\r\n";
            continue;
        } else if (program.endsWith(u"jpegtran") &&
                   (key.startsWith("Optimize =") || key.startsWith("Progressive ="))) {
            ini += key.left(key.indexOf('=') + 1) + "Yes\r\n";
            continue;
        } else if (key.startsWith("SaveMode =")) {
            ini += "SaveMode =0\r\n";
            continue;
        } else if (key.startsWith("Originals =")) {
            // The loop keeps no originals either; their cost has a bench of its own.
            ini += "Originals =Keep\r\n";
            continue;
        }
        ini += line + '\n';
    }
    const QString settings = dir.filePath(QStringLiteral("bench.ini"));
    {
        QFile f(settings);
        f.open(QIODevice::WriteOnly);
        f.write(ini);
    }
    if (!keep.isEmpty()) {
        copies(originals, keep);
        QFile::copy(settings, keep + QStringLiteral("/bench.ini"));
    }
    const QString work = dir.filePath(QStringLiteral("work"));
    const QStringList sample = copies(originals, work);
    const auto script = [&](const char *suffix) {
        const auto it = std::find_if(sample.begin(), sample.end(), [&](const QString &p) {
            return p.endsWith(QLatin1String(suffix));
        });
        return it == sample.end() ? QString() : perFileScript(programs.first(), settings, *it);
    };
    const QString jpegScript = script(".jpg"), pngScript = script(".png");
    const QString loop =
        QStringLiteral("ls '%1'/* | xargs -d '\\n' -P 2 -n 1 sh -c 'f=\"$0\"; case \"$f\" in "
                       "*.jpg) %2;; *.png) %3;; esac'")
            .arg(work, jpegScript, pngScript);

    std::printf("%d JPEGs of %.1f MB, %d PNGs of %.1f MB; tools: %s\n", jpegs, jpegBytes / 1e6,
                pngs, pngBytes / 1e6, qPrintable(ticked.join(u' ')));
    std::printf("per JPEG: %s\nper PNG: %s\n", qPrintable(jpegScript), qPrintable(pngScript));
    Cost bestLoop{1e9, 1e9};
    QList<Cost> best(programs.size(), Cost{1e9, 1e9});
    for (int round = 0; round < rounds; ++round) {
        const auto report = [&](const QString &what, const QString &before, const Cost &c) {
            std::printf("round %d  %-44s wall %7.2f s  CPU %7.2f s  (load %s)\n", round + 1,
                        qPrintable(what), c.wall, c.cpu, qPrintable(before));
            std::fflush(stdout);
        };
        // Alternated, so that a change in the machine's load falls on both.
        for (int turn = 0; turn <= programs.size(); ++turn) {
            const int which = (turn + round) % int(programs.size() + 1);
            const QStringList paths = copies(originals, work);
            const QString before = load();
            if (which == int(programs.size())) {
                const Cost c = timed(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), loop});
                report(QStringLiteral("xargs -P 2"), before, c);
                bestLoop.wall = std::min(bestLoop.wall, c.wall);
                bestLoop.cpu = std::min(bestLoop.cpu, c.cpu);
            } else {
                const Cost c =
                    timed(programs.at(which),
                          QStringList{QStringLiteral("--run"), QStringLiteral("--quiet"),
                                      QStringLiteral("--force"), QStringLiteral("--jobs"),
                                      QStringLiteral("2"), QStringLiteral("--settings"), settings} +
                              paths);
                report(programs.at(which), before, c);
                best[which].wall = std::min(best[which].wall, c.wall);
                best[which].cpu = std::min(best[which].cpu, c.cpu);
            }
        }
    }
    // Once more, untimed, for what the program saved.
    const QStringList results = copies(originals, work);
    timed(programs.first(),
          QStringList{QStringLiteral("--run"), QStringLiteral("--quiet"), QStringLiteral("--force"),
                      QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--settings"),
                      settings} +
              results);
    const double least =
        leastCheck(copies(originals, dir.filePath(QStringLiteral("again"))), results);

    std::printf("\nbest of %d            wall       CPU    wall/xargs   CPU/xargs\n", rounds);
    std::printf("%-20s %7.2f s %7.2f s\n", "xargs -P 2", bestLoop.wall, bestLoop.cpu);
    for (int i = 0; i < programs.size(); ++i)
        std::printf("%-20s %7.2f s %7.2f s   %.3f×      %+.1f %%   (aim ≤ 1.05×, < 5 %%)\n",
                    qPrintable(QFileInfo(programs.at(i)).path().right(20)), best[i].wall,
                    best[i].cpu, best[i].wall / bestLoop.wall,
                    100.0 * (best[i].cpu - bestLoop.cpu) / bestLoop.cpu);
    std::printf("the least whole check: each original and its saved result read once: "
                "%.2f s CPU (%+.1f %%)\n",
                least, 100.0 * least / bestLoop.cpu);
    return 0;
}
