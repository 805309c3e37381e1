// What keeping the originals costs: runs over small PNGs with 上書き保存 and
// Originals=Keep and Originals=Trash, taken in turn, side by side, through
// the built program and OptiPNG -o1. The home Trash is used: XDG_DATA_HOME
// is a folder on the same file system as the pictures.
//
//   tinsoke-bench-trash [count] [rounds] [jobs]   (2000 PNGs of a few KB, 3 rounds)
// Nothing else should run meanwhile; the load averages are printed beside
// each run for that reason.
#include "benchfiles.h"
#include "pictures.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double wall = 0; // seconds
    double cpu = 0;  // seconds, the program and its tools
    QString load;    // the load averages when the run ended
};

double childrenCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// As uptime says it: the 1, 5 and 15 minute load averages.
QString loadNow()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readLine()).section(u' ', 0, 2);
}

struct Usage {
    qint64 onDisk = 0; // blocks, as du counts
    qint64 length = 0; // the files' lengths
    int files = 0;
};

// What the folder takes, and its file count.
Usage usageOf(const QString &folder)
{
    Usage u;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        struct stat st {};
        if (lstat(QFile::encodeName(it.next()).constData(), &st) == 0) {
            u.onDisk += qint64(st.st_blocks) * 512;
            if (S_ISREG(st.st_mode)) {
                u.length += st.st_size;
                ++u.files;
            }
        }
    }
    return u;
}

Figures runOnce(const QStringList &arguments, const QProcessEnvironment &environment)
{
    const double cpuBefore = childrenCpu();
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setProcessEnvironment(environment);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(TINSOKE_PROGRAM), arguments);
    p.waitForFinished(-1);
    Figures f;
    f.wall = double(clock.nsecsElapsed()) / 1e9;
    f.cpu = childrenCpu() - cpuBefore;
    f.load = loadNow();
    if (p.exitCode() != 0)
        std::fprintf(stderr, "run: exit %d\n", p.exitCode());
    return f;
}

double mean(const std::vector<Figures> &runs, double Figures::*field)
{
    double sum = 0;
    for (const Figures &f : runs)
        sum += f.*field;
    return runs.empty() ? 0 : sum / double(runs.size());
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the pictures are drawn, never shown
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const QByteArray jobs = argc > 3 ? QByteArray(argv[3]) : QByteArrayLiteral("0");
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/optipng"))) {
        std::fprintf(stderr, "needs /usr/bin/optipng\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString originals = dir.filePath(QStringLiteral("originals"));
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString path = originals + QStringLiteral("/%1.png").arg(i, 4, 10, QLatin1Char('0'));
        savePicture(makePicture(64, 48, quint32(i)), path);
        bytes += QFileInfo(path).size();
    }
    const QString work = dir.filePath(QStringLiteral("work"));
    const QString dataHome = dir.filePath(QStringLiteral("data"));
    const QString trash = dataHome + QStringLiteral("/Trash");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    std::printf("%d PNGs, %.1f KB each on average, jobs %s, OptiPNG -o1, %s\n", count,
                double(bytes) / 1024.0 / count, jobs.constData(), TINSOKE_PROGRAM);

    std::vector<Figures> keep, trashed;
    Usage inTrash;
    for (int round = 0; round < rounds; ++round) {
        for (const char *mode : {"Keep", "Trash"}) {
            // Each run starts over: fresh copies, no memory, an empty Trash.
            copies(originals, work);
            QDir(trash).removeRecursively();
            const QString ini = dir.filePath(QStringLiteral("bench-%1.ini").arg(round));
            QFile::remove(dir.filePath(QStringLiteral("bench-%1.finished.db").arg(round)));
            // What the last run left to the disk is written out before the next one starts.
            ::sync();
            writeBytes(ini, "[Option]\r\nSaveMode=0\r\nJobs=" + jobs + "\r\nOriginals=" + mode +
                                "\r\n[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
                                "UseParam=No\r\nParam=\r\nOptimizeLevel=1\r\n");
            const Figures f = runOnce({QStringLiteral("--run"), QStringLiteral("--quiet"),
                                       QStringLiteral("--settings"), ini, work},
                                      environment);
            const bool toTrash = qstrcmp(mode, "Trash") == 0;
            (toTrash ? trashed : keep).push_back(f);
            std::printf("round %d  %-5s  wall %7.2f s  cpu %7.2f s  load %s", round + 1, mode,
                        f.wall, f.cpu, qPrintable(f.load));
            if (toTrash) {
                inTrash = usageOf(trash);
                std::printf("  Trash %.1f MB on disk, %d files", double(inTrash.onDisk) / 1e6,
                            inTrash.files);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    const double keepWall = mean(keep, &Figures::wall);
    const double trashWall = mean(trashed, &Figures::wall);
    const double keepCpu = mean(keep, &Figures::cpu);
    const double trashCpu = mean(trashed, &Figures::cpu);
    std::printf("\n%-26s %10s %10s\n", "mean of each", "Keep", "Trash");
    std::printf("%-26s %9.2fs %9.2fs\n", "wall", keepWall, trashWall);
    std::printf("%-26s %9.2fs %9.2fs\n", "cpu (program and tools)", keepCpu, trashCpu);
    std::printf("%-26s %9.3fms %9.3fms\n", "wall per file", 1000 * keepWall / count,
                1000 * trashWall / count);
    std::printf("Trash costs per file:     wall %+.3f ms, cpu %+.3f ms (%+.1f %% of the run)\n",
                1000 * (trashWall - keepWall) / count, 1000 * (trashCpu - keepCpu) / count,
                100 * (trashWall - keepWall) / keepWall);
    std::printf("Trash after one run:      %.1f MB on disk (%.1f MB of file lengths) for %.1f MB "
                "of originals, %d files (copies and info files)\n",
                double(inTrash.onDisk) / 1e6, double(inTrash.length) / 1e6, double(bytes) / 1e6,
                inTrash.files);
    std::printf("(anchor: the Keep run over the same files; load is the 1/5/15 minute average)\n");
    return 0;
}
