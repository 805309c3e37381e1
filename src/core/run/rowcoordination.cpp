#include "rowcoordination.h"

#include "executeprocess.h"
#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"

#include <QDir>

namespace tinsoke {

namespace {

// A wait on changed, under mutex, that a stop of the run ends as well. Made
// before mutex is locked: the stop is noted under mutex, so one that lands
// between the waiter's look and its wait still wakes it.
class StoppableWait {
public:
    StoppableWait(const RunningTools &running, QMutex &mutex, QWaitCondition &changed)
        : m_mutex(mutex)
        , m_changed(changed)
        , m_wake(running, [this] {
            const QMutexLocker lock(&m_mutex);
            m_stopped = true;
            m_changed.wakeAll();
        })
    {}
    // With mutex locked: false when the run is stopped, else waits for a change.
    bool wait()
    {
        if (m_stopped)
            return false;
        m_changed.wait(&m_mutex);
        return true;
    }

private:
    QMutex &m_mutex;
    QWaitCondition &m_changed;
    bool m_stopped = false;
    RunningTools::StopWake m_wake; // last: it may call back at once
};

} // namespace

bool FileLocks::acquire(const FileIdentity &id, const RunningTools &running)
{
    StoppableWait waiting(running, m_mutex, m_freed);
    const QMutexLocker lock(&m_mutex);
    while (m_busy.count(id.key()))
        if (!waiting.wait())
            return false;
    m_busy.insert(id.key());
    return true;
}

void FileLocks::release(const FileIdentity &id)
{
    const QMutexLocker lock(&m_mutex);
    m_busy.erase(id.key());
    m_freed.wakeAll();
}

void SaveOrder::plan(const QList<RowTask> &rows, SaveMethod saveMethod)
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
            (saveMethod == SaveMethod::CopyBeside ? folderOf(row.path) : QString()) + u'/' + stem +
            ext;
        const auto found = m_lastWithKey.find(key);
        if (found != m_lastWithKey.end() && !m_done.count(found->second))
            m_before[row.row] = found->second;
        m_lastWithKey[key] = row.row;
    }
}

bool SaveOrder::waitTurn(int row, const RunningTools &running)
{
    StoppableWait waiting(running, m_mutex, m_changed);
    const QMutexLocker lock(&m_mutex);
    const auto before = m_before.find(row);
    if (before == m_before.end())
        return true;
    const int earlier = before->second;
    while (!m_done.count(earlier))
        if (!waiting.wait())
            return false;
    return true;
}

void SaveOrder::done(int row)
{
    const QMutexLocker lock(&m_mutex);
    m_done.insert(row);
    m_before.erase(row);
    m_changed.wakeAll();
}

QString ResultFolder::get(QString *tried)
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

} // namespace tinsoke
