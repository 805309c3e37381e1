#include "executeprocess.h"

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
}

bool RunningTools::stopped() const
{
    const QMutexLocker lock(&m_mutex);
    return m_stopped;
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
