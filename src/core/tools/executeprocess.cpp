#include "executeprocess.h"

#include <utility>

namespace tinsoke {

bool RunningTools::add(qint64 group)
{
    const QMutexLocker lock(&m_mutex);
    if (m_stopped)
        return false;
    m_groups.insert(group);
    return true;
}

void RunningTools::remove(qint64 group)
{
    const QMutexLocker lock(&m_mutex);
    m_groups.erase(group);
}

void RunningTools::stopAll()
{
    const QMutexLocker lock(&m_mutex);
    m_stopped = true;
    // Under the lock: a group is removed before its leader is reaped, so the
    // number ended here still names that tool.
    for (const qint64 group : m_groups)
        endToolGroup(group);
    for (const StopWake *wake : m_wakes)
        wake->m_wake();
}

bool RunningTools::stopped() const
{
    const QMutexLocker lock(&m_mutex);
    return m_stopped;
}

RunningTools::StopWake::StopWake(const RunningTools &running, std::function<void()> wake)
    : m_running(running)
    , m_wake(std::move(wake))
{
    const QMutexLocker lock(&m_running.m_mutex);
    if (m_running.m_stopped)
        m_wake();
    else
        m_running.m_wakes.insert(this);
}

RunningTools::StopWake::~StopWake()
{
    const QMutexLocker lock(&m_running.m_mutex);
    m_running.m_wakes.erase(this);
}

ToolOutcome runToolProcess(const QString &program, const QStringList &arguments,
                           const QString &folder, RunningTools &running)
{
    if (running.stopped()) { // no tool starts after a stop
        ToolOutcome outcome;
        outcome.stopped = true;
        return outcome;
    }
    return startAndWaitForTool(program, arguments, folder, running);
}

QString startFailureMessage(unsigned long errorNumber)
{
    return QStringLiteral("実行できません (") + QString::number(errorNumber) + u')';
}

} // namespace tinsoke
