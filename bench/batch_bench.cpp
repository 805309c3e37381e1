// What a run adds to the tools' own time.
//   build/bench/tinsoke-bench-batch [FILES]   (default 200)
// Takes small PNGs through OptiPNG at level 0 with the batch, then runs the
// very same command lines from a shell loop, each over fresh copies of the
// same pictures, and prints both times and their ratio. The tools' own
// messages go to nothing on both sides.
#include "batch.h"
#include "commandline.h"
#include "filelistmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

class RecordingHost : public tinsoke::BatchHost {
public:
    QStringList lines;
    int saveMethod() override { return 0; }
    bool toolAvailable(tinsoke::Tool) override { return true; }
    void showProgress(int, int, int) override { QCoreApplication::processEvents(); }
    void reportPassedOver(const QString &message) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    void reportStartFailure(const QString &message) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    void processPendingEvents() override { QCoreApplication::processEvents(); }
    void runTool(const QString &commandLine) override
    {
        lines.append(commandLine);
        tinsoke::BatchHost::runTool(commandLine);
    }
};

QStringList freshImages(const QString &folder, int count)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 7) % 360, 200, 200));
        const QString path = QStringLiteral("%1/image %2.png").arg(folder).arg(i);
        image.save(path, "PNG", 100);
        paths.append(path);
    }
    return paths;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/optipng"))) {
        std::fprintf(stderr, "needs /usr/bin/optipng\n");
        return 1;
    }
    // The tools talk on the standard streams; both sides send them to nothing alike.
    if (!std::freopen("/dev/null", "w", stderr))
        return 1;
    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("images"));
    tinsoke::RunSnapshot snapshot;
    snapshot[int(tinsoke::Tool::OptiPNG)] = {true, QStringLiteral("/usr/bin/optipng"),
                                             tinsoke::optiPngOptions({false, {}, 0})};

    double best = 1e9;
    double bestShell = 1e9;
    for (int round = 0; round < 3; ++round) {
        tinsoke::FileListModel list;
        list.addFiles(freshImages(folder, count));
        RecordingHost host;
        QElapsedTimer clock;
        clock.start();
        tinsoke::runBatch(list, host, [&] { return snapshot; });
        best = std::min(best, clock.nsecsElapsed() / 1e9);

        freshImages(folder, count);
        QFile script(temp.filePath(QStringLiteral("lines.sh")));
        script.open(QIODevice::WriteOnly);
        for (const QString &line : std::as_const(host.lines))
            script.write(line.toUtf8() + '\n');
        script.close();
        QProcess shell;
        shell.setProcessChannelMode(QProcess::ForwardedChannels); // as the batch's tools
        clock.restart();
        shell.start(QStringLiteral("/bin/sh"), {script.fileName()});
        shell.waitForFinished(-1);
        bestShell = std::min(bestShell, clock.nsecsElapsed() / 1e9);
    }
    std::printf("%d PNGs, optipng -o0, best of 3\n", count);
    std::printf("through the batch:        %.3f s\n", best);
    std::printf("shell loop, same lines:   %.3f s\n", bestShell);
    std::printf("ratio: %.3f (target <= 1.05)\n", best / bestShell);
    return 0;
}
