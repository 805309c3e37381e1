#include "commandlinewatch.h"

#include "commandlineoutput.h"
#include "finishedfiles.h"
#include "folderwatch.h"
#include "intake.h"
#include "paths.h"
#include "picturecheck.h"
#include "privatefiles.h"
#include "runengine.h"
#include "stopsignals.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace {

// How long a picture must stay complete, untouched, before its turn: a
// writer that closes and opens it again between parts is not taken midway.
constexpr int SettleMs = 1000;

// The pictures the folders hold now, but for the run's own result folders.
QStringList picturesIn(const QStringList &folders)
{
    QStringList pictures;
    for (const QString &folder : folders)
        pictures += tinsoke::picturesBelow(folder);
    return pictures;
}

void tellGone(const QString &path)
{
    print(stderr, QStringLiteral("%1: 処理の前になくなりました\n").arg(field(path)));
}

// A limit of folder watches worth setting: twice today's, and no less than
// what large photo libraries need.
qint64 raisedWatchLimit()
{
    QFile limit(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    const qint64 now = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toLongLong() : 0;
    return std::max<qint64>(524288, 2 * now);
}

} // namespace

int watchFolders(const tinsoke::RunPlan &plan, tinsoke::RunHost &host, const QStringList &named,
                 bool quiet, bool force)
{
    // A folder named as a link is watched where the link leads now.
    QStringList folders;
    for (const QString &folder : named) {
        const QString real = tinsoke::watchedFolderOf(folder);
        if (real != folder && !real.isEmpty())
            tell(QStringLiteral("%1 はリンクです。リンク先の %2 を監視します。")
                     .arg(field(folder), field(real)));
        folders.append(real.isEmpty() ? folder : real);
    }
    tinsoke::FolderWatch watch(SettleMs);
    int error = 0;
    if (!watch.open(&error)) {
        tell(error == EMFILE
                 ? QStringLiteral("inotify の数が上限に達したため、フォルダを監視できません。"
                                  "上限は sudo sysctl fs.inotify.max_user_instances=1024 で"
                                  "上げられます。")
                 : QStringLiteral("フォルダを監視できません（%1）。")
                       .arg(QString::fromLocal8Bit(std::strerror(error))));
        return 1;
    }
    const auto memory = host.memory();
    tellMemoryProblem(*memory);

    const auto owned = host.engine(plan, {}, force);
    tinsoke::RunEngine &engine = *owned;
    engine.keepOpen();

    // What the watch wrote itself, as it stood then: its arrival starts nothing.
    std::map<QString, tinsoke::FileIdentity> ownWrites;
    int nextRow = 0;
    const auto take = [&](const QStringList &paths) {
        QList<tinsoke::RowTask> rows;
        for (const QString &path : paths) {
            const auto own = ownWrites.find(path);
            if (own != ownWrites.end()) {
                const bool same = own->second.sameAs(tinsoke::FileIdentity::of(path));
                ownWrites.erase(own);
                if (same)
                    continue;
            }
            // A file 元に戻す gave back waits for its next change.
            if (memory->wasReverted(tinsoke::StatKey::of(tinsoke::FileIdentity::of(path)))) {
                if (!quiet)
                    tell(QStringLiteral("%1 は元に戻したファイルなので、変わるまで処理しません。")
                             .arg(field(path)));
                continue;
            }
            rows.append({nextRow++, path, tinsoke::fileNameOf(path)});
        }
        engine.append(rows);
    };

    QObject::connect(&engine, &tinsoke::RunEngine::rowFinished, &engine,
                     [&](const tinsoke::RowResult &r) {
                         // As the write left it: a change made since is another's.
                         if (r.written.exists)
                             ownWrites[r.savedAs] = r.written;
                         if (r.outcome == tinsoke::RowResult::Outcome::PassedOver &&
                             tinsoke::entryType(r.path) == tinsoke::EntryType::Missing) {
                             tellGone(r.path);
                             return;
                         }
                         for (const tinsoke::RunProblem &p : r.problems)
                             print(stderr, problemText(p));
                         if (r.outcome == tinsoke::RowResult::Outcome::Done && !quiet) {
                             print(stdout, resultLine(r.path, r));
                             std::fflush(stdout);
                         }
                     });
    QObject::connect(&engine, &tinsoke::RunEngine::idle, &engine, [&] {
        tellMemoryProblem(*memory);
        // A long watch keeps only what it wrote lately.
        if (ownWrites.size() > 100000)
            ownWrites.clear();
    });
    QObject::connect(&watch, &tinsoke::FolderWatch::fileReady, &engine,
                     [&](const QString &path) { take({path}); });
    QObject::connect(&watch, &tinsoke::FolderWatch::fileGone, &engine, &tellGone);
    QObject::connect(&watch, &tinsoke::FolderWatch::folderGone, &engine, [](const QString &path) {
        tell(QStringLiteral("監視していたフォルダがなくなりました（削除または移動）：%1")
                 .arg(field(path)));
    });
    QObject::connect(
        &watch, &tinsoke::FolderWatch::limitReached, &engine,
        [](const QString &folder, int unwatched) {
            tell(QStringLiteral("inotify の監視数が上限に達したため、%1 など %2 個のフォルダを"
                                "監視できません。上限は sudo sysctl "
                                "fs.inotify.max_user_watches=%3 で上げられます"
                                "（/etc/sysctl.d/ に書けば再起動後も続きます）。")
                     .arg(field(folder))
                     .arg(unwatched)
                     .arg(raisedWatchLimit()));
        });
    QObject::connect(
        &watch, &tinsoke::FolderWatch::cannotWatch, &engine, [](const QString &folder, int error) {
            tell(QStringLiteral("フォルダを監視できません（%1）：%2")
                     .arg(QString::fromLocal8Bit(std::strerror(error)), field(folder)));
        });
    QObject::connect(&watch, &tinsoke::FolderWatch::passedOver, &engine,
                     [](const QString &path, const QString &reason) {
                         print(stderr, QStringLiteral("%1: %2\n").arg(field(path), reason));
                     });
    QObject::connect(&watch, &tinsoke::FolderWatch::overflowed, &engine, [&] {
        tell(QStringLiteral("変化の知らせがあふれたため、フォルダ全体を見直します。"));
        take(picturesIn(folders));
    });

    int stoppedBy = 0;
    tinsoke::StopSignals stopSignals;
    stopOnSignals(stopSignals, engine, &stoppedBy);
    QObject::connect(&engine, &tinsoke::RunEngine::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit);

    // Watched first, then looked over: nothing arrives unseen in between.
    for (const QString &folder : folders)
        watch.watchTree(folder);
    engine.start();
    take(picturesIn(folders));
    QCoreApplication::exec();
    tellMemoryProblem(*memory);
    return 128 + stoppedBy;
}
