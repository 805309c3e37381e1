#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <set>

namespace tinsoke {

// The tools of one run that are running now, each in its own process group,
// so that a stop can end every one of them, and whatever they started, at once.
class RunningTools {
public:
    // Registers a started tool. Returns false when the run has been stopped
    // meanwhile: the caller then ends the tool itself.
    bool add(qint64 group);
    void remove(qint64 group);
    // Ends every registered tool now, refuses new ones and wakes every
    // waiter that asked to hear of the stop.
    void stopAll();
    bool stopped() const;

    // While it lives, a stop calls wake, at once when the run has been
    // stopped already: a waiter makes it before it looks and waits, and wake
    // notes the stop under the waiter's own lock and wakes it, so no stop is
    // lost between the look and the wait. wake runs under this object's lock
    // and must not call back into it.
    class StopWake {
    public:
        StopWake(const RunningTools &running, std::function<void()> wake);
        ~StopWake();
        StopWake(const StopWake &) = delete;
        StopWake &operator=(const StopWake &) = delete;

    private:
        friend class RunningTools;
        const RunningTools &m_running;
        std::function<void()> m_wake;
    };

private:
    mutable QMutex m_mutex;
    std::set<qint64> m_groups;
    mutable std::set<const StopWake *> m_wakes;
    bool m_stopped = false;
};

// How one tool run went.
struct ToolOutcome {
    int startError = 0;   // the system's error number when the tool could not be started
    bool exited = false;  // ended by itself (else killed by a signal)
    int exitCode = -1;    // when exited
    int signal = 0;       // when killed
    bool stopped = false; // the run was stopped while the tool ran
    QByteArray output;    // what it printed (stdout and stderr), bounded
    bool outputCut = false;

    bool started() const { return startError == 0; }
};

// At most this much of a tool's output is kept; the rest is read and dropped,
// so a tool that prints megabytes never stalls.
constexpr int ToolOutputLimit = 64 * 1024;

// Runs program with the arguments (a list, passed as they are) in folder and
// returns when it has ended. It gets no input, its output is captured, it
// runs in a process group of its own and does not outlive the program.
// Blocks the calling thread: the run calls it from its worker threads.
ToolOutcome runToolProcess(const QString &program, const QStringList &arguments,
                           const QString &folder, RunningTools &running);

// The same as handed to a run: the real runner, or one a test hands in that
// records or plays a fault.
using ToolRunner = std::function<ToolOutcome(const QString &program, const QStringList &arguments,
                                             const QString &folder, RunningTools &running)>;

// The text shown when a tool cannot be started: the system's error number.
QString startFailureMessage(unsigned long errorNumber);

// The platform's part of the above (one file per platform): ends a
// running tool and whatever it started, at once; starts a tool and waits.
void endToolGroup(qint64 group);
ToolOutcome startAndWaitForTool(const QString &program, const QStringList &arguments,
                                const QString &folder, RunningTools &running);

} // namespace tinsoke
