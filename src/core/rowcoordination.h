#pragma once

// What the rows of one run share to keep out of each other's way: the locks
// of the files they write, the order they save in, and the result folder.

#include "executeprocess.h"
#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"
#include "runplan.h"

#include <QDir>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <map>
#include <set>
#include <utility>

namespace tinsoke {

inline const QString ResultFolderName = QStringLiteral("Result_Tinsoke");

// Rows that name one file (two hard links, a link and its target) never run
// at the same time: the second waits for the first.
class FileLocks {
public:
    bool acquire(const FileIdentity &id, const RunningTools &running)
    {
        QMutexLocker lock(&m_mutex);
        while (m_busy.count(id.key())) {
            if (running.stopped())
                return false;
            m_freed.wait(&m_mutex, 100);
        }
        m_busy.insert(id.key());
        return true;
    }
    void release(const FileIdentity &id)
    {
        const QMutexLocker lock(&m_mutex);
        m_busy.erase(id.key());
        m_freed.wakeAll();
    }

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
    void plan(const QList<RowTask> &rows, SaveMethod saveMethod)
    {
        if (saveMethod != SaveMethod::CopyBeside && saveMethod != SaveMethod::ResultFolder)
            return;
        const QMutexLocker lock(&m_mutex);
        for (const RowTask &row : rows) {
            QString name = fileNameOf(row.path);
            const QString ext = fileExtension(name);
            QString stem = name.left(name.size() - ext.size());
            while (stem.endsWith(u'_'))
                stem.chop(1);
            const QString key =
                (saveMethod == SaveMethod::CopyBeside ? folderOf(row.path) : QString()) + u'/' +
                stem + ext;
            const auto found = m_lastWithKey.find(key);
            if (found != m_lastWithKey.end() && !m_done.count(found->second))
                m_before[row.row] = found->second;
            m_lastWithKey[key] = row.row;
        }
    }
    // Waits until the earlier row whose name could meet this one's has saved.
    bool waitTurn(int row, const RunningTools &running)
    {
        QMutexLocker lock(&m_mutex);
        const auto before = m_before.find(row);
        if (before == m_before.end())
            return true;
        const int earlier = before->second;
        while (!m_done.count(earlier)) {
            if (running.stopped())
                return false;
            m_changed.wait(&m_mutex, 100);
        }
        return true;
    }
    void done(int row)
    {
        const QMutexLocker lock(&m_mutex);
        m_done.insert(row);
        m_before.erase(row);
        m_changed.wakeAll();
    }

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
    QString get(QString *tried)
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_tried) {
            m_tried = true;
            for (;;) {
                if (QDir().mkdir(m_path)) {
                    m_ready = true;
                    break;
                }
                if (!entryExists(m_path))
                    break; // not a matter of the name: trying others cannot help
                m_path += u'_';
            }
        }
        if (!m_ready)
            *tried = m_path;
        return m_ready ? m_path : QString();
    }

private:
    QMutex m_mutex;
    QString m_path;
    bool m_tried = false;
    bool m_ready = false;
};

} // namespace tinsoke
