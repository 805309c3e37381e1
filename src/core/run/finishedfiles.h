#pragma once

#include "privatefiles.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace tinsoke {

// A file as its directory entry knows it: unchanged while all five stay.
struct StatKey {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    static StatKey of(const FileIdentity &id)
    {
        return {id.device, id.inode, id.size, id.modifiedNs, id.changedNs};
    }
};

// What an overwrite put into the Trash: the file it overwrote (its real
// path), the Trash's copy of the original and its info file, and the digest
// of what the overwrite wrote, which the file must still hold to be reverted.
struct UndoRecord {
    qint64 run = 0;
    QString path;
    QString trashedFile;
    QString infoFile;
    QByteArray written;
    QByteArray original; // the digest of the original, which its copy must still have
};

// The memory of finished files: for a file's content and a chain, that the
// chain could not make it smaller. It only ever saves work; it never stands
// in for a check and never writes a picture. Every call may come from any
// thread. Whatever goes wrong with the memory file is told once (problem())
// and the run goes on without it.
class FinishedFiles {
public:
    // The memory file at path, made when missing. A file that is no memory
    // of ours is set aside and a new one made.
    // It keeps at most maxFinished results and twice as many entries; beyond
    // that the longest unused go.
    explicit FinishedFiles(const QString &path, int maxFinished = 200000);
    ~FinishedFiles(); // writes what is still waiting
    FinishedFiles(const FinishedFiles &) = delete;
    FinishedFiles &operator=(const FinishedFiles &) = delete;

    // Whether the file is known finished for the chain without reading it.
    bool knownByStat(const StatKey &key, const QByteArray &chain);
    // Whether content of this digest is known finished for the chain.
    bool knownByDigest(const QByteArray &digest, const QByteArray &chain);
    // Content of this digest is finished for the chain; the entries given
    // hold it. Written in batches.
    void remember(const QByteArray &digest, const QByteArray &chain,
                  const std::vector<StatKey> &entries);
    // Writes what waits, and keeps the memory within its bounds.
    void flush();

    // The way back from overwrites. A run that may overwrite takes a number,
    // 0 without a memory; the last run is the one with the highest.
    qint64 newRun();
    bool rememberUndo(const UndoRecord &record);
    // The last run's records, or the latest of each named real path.
    std::vector<UndoRecord> undoRecords(const QStringList &paths = {});
    // A record done with; with reverted, the file as the revert left it,
    // which the watch then leaves alone until it changes.
    void forgetUndo(const UndoRecord &record, const StatKey *reverted = nullptr);
    bool wasReverted(const StatKey &key);

    // What went wrong, once: empty when nothing did or it was told already.
    QString takeProblem();

private:
    struct Pending {
        QByteArray digest;
        QByteArray chain;
        std::vector<StatKey> entries;
    };
    bool openLocked();
    int tryOpenLocked(bool *newer);
    bool renewLocked();
    void closeLocked();
    void failLocked(int rc);
    void failLocked(const QString &what);
    int runLocked(const char *sql);
    void writePendingLocked();
    void pruneLocked();
    bool execLocked(const char *sql);

    QMutex m_mutex;
    QString m_path;
    int m_maxFinished;
    sqlite3 *m_db = nullptr;
    std::vector<Pending> m_pending;
    std::vector<std::pair<QByteArray, QByteArray>> m_used; // finished entries found again
    QString m_problem;
    bool m_told = false;
    FileIdentity m_opened;  // the memory file as it was opened
    bool m_renewed = false; // set aside and made anew once already
};

// Where the memory of a settings file lives: for the user's own settings
// file, $XDG_CACHE_HOME/pelmora-tinsoke/finished.db (~/.cache when unset or
// not absolute); for any other (a portable copy's, or one named on the
// command line) beside it, named like it: night.ini keeps night.finished.db.
QString finishedFilesPath(const QString &settingsPath);

} // namespace tinsoke
