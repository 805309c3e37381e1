#pragma once

// What the rows of one run share to keep out of each other's way: the locks
// of the files they write, the order they save in, and the result folder.
// A stop of the run wakes whoever waits here.

#include "runplan.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <map>
#include <set>
#include <utility>

namespace tinsoke {

class RunningTools;
struct FileIdentity;

// Rows that name one file (two hard links, a link and its target) never run
// at the same time: the second waits for the first.
class FileLocks {
public:
    // False when the run is stopped while the file is another row's.
    bool acquire(const FileIdentity &id, const RunningTools &running);
    void release(const FileIdentity &id);

private:
    QMutex m_mutex;
    QWaitCondition m_freed;
    std::set<std::pair<quint64, quint64>> m_busy;
};

// Copies whose names could meet (a.png from two folders into one result
// folder; a.png and a_.png beside each other) take their names in list
// order, so a row's result does not depend on which row finished first.
class SaveOrder {
public:
    // Rows may be planned in several lots (a watch adds them as they come);
    // each lot is planned before any of its rows starts.
    void plan(const QList<RowTask> &rows, SaveMethod saveMethod);
    // Waits until the earlier row whose name could meet this one's has saved;
    // false when the run is stopped first.
    bool waitTurn(int row, const RunningTools &running);
    void done(int row);

private:
    QMutex m_mutex;
    QWaitCondition m_changed;
    std::map<QString, int> m_lastWithKey;
    std::map<int, int> m_before;
    std::set<int> m_done;
};

// The result folder beside the first listed file, made when first needed.
class ResultFolder {
public:
    explicit ResultFolder(QString path)
        : m_path(std::move(path))
    {}
    // The folder, or the empty text when it cannot be made, with the path
    // last tried in tried.
    QString get(QString *tried);

private:
    QMutex m_mutex;
    QString m_path;
    bool m_tried = false;
    bool m_ready = false;
};

} // namespace tinsoke
