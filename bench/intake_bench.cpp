// Taking a large folder tree into the list, sorting, deleting and clearing.
//   build/bench/tinsoke-bench-intake [FOLDER]   (default: a new temporary folder)
// Makes 100,000 files (half of them .jpg/.png) nested five deep, takes the
// tree in through the drop code, sorts by Size and by Path, deletes every
// second row and clears, printing each step's seconds, the peak memory, and
// what `find` takes over the same tree.
#include "filelistmodel.h"
#include "intake.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char *const Extensions[] = {".jpg", ".png", ".txt", ".gif"};

// 10 x 10 x 10 x 10 folders, 10 files in each of the deepest.
int makeTree(const QString &root)
{
    int made = 0;
    for (int a = 0; a < 10; ++a)
        for (int b = 0; b < 10; ++b)
            for (int c = 0; c < 10; ++c)
                for (int d = 0; d < 10; ++d) {
                    const QString folder =
                        QStringLiteral("%1/d%2/d%3/d%4/d%5").arg(root).arg(a).arg(b).arg(c).arg(d);
                    QDir().mkpath(folder);
                    for (int f = 0; f < 10; ++f, ++made) {
                        const QByteArray path =
                            QFile::encodeName(folder + QStringLiteral("/Image %1").arg(made)) +
                            Extensions[made % 4];
                        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
                        if (fd >= 0) {
                            // Sparse sizes: different per file, no disk space taken.
                            if (::ftruncate(fd, (made * 7919) % 3000000) != 0)
                                std::perror("ftruncate");
                            ::close(fd);
                        }
                    }
                }
    return made;
}

double findSeconds(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"), {root});
    find.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

long peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

template <typename F> double seconds(F &&step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    if (!QDir(root).exists(QStringLiteral("d0"))) {
        std::printf("making the tree in %s ...\n", qPrintable(root));
        std::printf("files made: %d\n", makeTree(root));
    }

    findSeconds(root); // the same warm cache for both
    const double find = findSeconds(root);
    tinsoke::FileListModel list;
    const double intake = seconds([&] { tinsoke::DropFiles(list, {root}); });
    std::printf("rows listed: %d\n", list.rowCount());
    std::printf("find over the tree:     %.3f s\n", find);
    std::printf("intake through a drop:  %.3f s  (%.2f x find; target <= 3)\n", intake,
                intake / find);
    std::printf("sort by Size:           %.3f s  (target < 0.5)\n",
                seconds([&] { list.sortBy(1, true); }));
    std::printf("sort by Path:           %.3f s  (target < 0.5)\n",
                seconds([&] { list.sortBy(10, false); }));
    QList<int> everySecond;
    for (int r = 0; r < list.rowCount(); r += 2)
        everySecond.append(r);
    std::printf("delete every second row: %.3f s\n",
                seconds([&] { list.removeRowsAt(everySecond); }));
    std::printf("clear:                  %.3f s  (target < 0.2)\n", seconds([&] { list.clear(); }));
    std::printf("peak RSS:               %ld MB  (target < 200)\n", peakRssMb());
    return 0;
}
