#include "executeprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#endif

extern char **environ;

namespace tinsoke {

#ifndef __linux__
void endToolGroup(qint64 group)
{
    ::kill(-static_cast<pid_t>(group), SIGKILL);
}
#endif

namespace {

// The program as the system will run it: a bare name is looked up along PATH.
QByteArray resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    if (program.contains(u'/')) // as named from our folder; the tool runs in another
        return QFile::encodeName(QFileInfo(program).absoluteFilePath());
    const QString found = QStandardPaths::findExecutable(program);
    return found.isEmpty() ? QByteArray() : QFile::encodeName(found);
}

// Everything the child needs, made before it exists: between its start and
// exec it only makes system calls on these.
struct ChildPlan {
    const char *program;
    char *const *argv;
    const char *folder;
    int input;
    int output;
    pid_t parent;
    struct sigaction byDefault;
    sigset_t none;
#ifdef __linux__
    cpu_set_t cpus; // the program's own, which the tool gets back
#endif
};

void closeQuietly(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// Reads what is there without waiting; false at the end of the output.
bool drain(int fd, ToolOutcome &outcome)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const qsizetype room = ToolOutputLimit - outcome.output.size();
            if (room > 0)
                outcome.output.append(buffer, qMin<qsizetype>(room, n));
            if (n > room)
                outcome.outputCut = true;
            continue;
        }
        if (n == 0)
            return false; // the end of the output
        // Nothing there now. The guard shares this thread's errno, so it is
        // not trusted to tell why.
        return true;
    }
}

#ifdef __linux__

// The child shares the guard's memory until exec, with every signal
// blocked so that none of our handlers can run in it. It resets every
// handler to the default before it unblocks anything, so the tool starts
// clean.
[[noreturn]] void becomeTool(const ChildPlan &plan, volatile int *error)
{
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, &plan.byDefault, nullptr);
    ::setpgid(0, 0);
    ::sched_setaffinity(0, sizeof plan.cpus, &plan.cpus);
    // The tool ends with its guard, whatever ends the guard.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != plan.parent)
        ::_exit(127);
    ::dup2(plan.input, STDIN_FILENO);
    ::dup2(plan.output, STDOUT_FILENO);
    ::dup2(plan.output, STDERR_FILENO);
    // Every path a tool gets is absolute; the folder only keeps the files a
    // tool leaves of its own accord out of the user's way.
    if (plan.folder && ::chdir(plan.folder) != 0) {
    }
    ::sigprocmask(SIG_SETMASK, &plan.none, nullptr);
    ::execve(plan.program, plan.argv, environ);
    *error = errno;
    ::_exit(127);
}

// A tool runs under a guard: a small process of ours that starts it, is the
// reaper of everything it leaves behind (a daemon that left its group comes
// back to the guard), and ends all of it when the tool ends, when the run is
// stopped or when the program itself ends, however it ends. Each thread that
// runs tools keeps one guard for as long as it lives, and the guard takes
// that thread's tools one after another, so a tool start costs no process
// more than the tool itself. The guard lives in our memory (it is made like
// a thread, without copying anything), so it uses only system calls and
// this plan; the thread and the guard take turns through two event counters.
// The guard is kept on the processor of the thread that hands it a tool, as
// a start from the thread itself would be: a hand-over between processors
// costs more than the rest of the guard's work (measured with the tool-start
// bench); the tool gets the program's processors back before it starts.
struct GuardPlan {
    // Fixed when the guard is made; the same numbers in both file tables.
    pid_t program = 0;
    int request = -1; // the thread: a tool to start (or, with quit, to end)
    int done = -1;    // the guard: the tool has ended and everything it left
    int stop = -1;    // a stop: the tool numbered in `stopped` is to end
    // Set by the thread before each request.
    ChildPlan child{};
    unsigned serial = 0;
    bool quit = false;
    std::atomic<unsigned> stopped{0};
    char *toolStack = nullptr; // where the tool's start runs until its exec
    volatile int toolError = 0;
    // Set by the guard before it says done.
    int startError = 0;
    bool toolEnded = false;
    int toolStatus = 0;
};

constexpr std::size_t GuardStackSize = 64 * 1024;

// Every argument is given, so that none is left to chance.
long sys(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0)
{
    return ::syscall(number, a, b, c, d, e, 0L);
}

// The guard keeps no file of ours open but those it needs: a lock or a
// socket of the program must not outlive it in the guard.
template <std::size_t N> void closeAllBut(int (&keep)[N])
{
#ifdef SYS_close_range
    std::sort(std::begin(keep), std::end(keep));
    long from = 3;
    for (const int k : keep) {
        if (k < from)
            continue;
        if (k > from)
            sys(SYS_close_range, from, k - 1, 0);
        from = k + 1;
    }
    sys(SYS_close_range, from, ~0U, 0);
#else
    Q_UNUSED(keep);
#endif
}

// Ends every process that came back to the guard, and what they started,
// until none is left. A zombie is listed until it is reaped, so each round
// reaps one.
void endWhatCameBack()
{
    // Most tools leave nothing: then there is no child to look for.
    while (sys(SYS_wait4, -1, 0, __WALL | WNOHANG, 0) > 0) {
    }
    siginfo_t none{};
    if (sys(SYS_waitid, P_ALL, 0, reinterpret_cast<long>(&none), WEXITED | WNOHANG | WNOWAIT) != 0)
        return;
    for (;;) {
        const int fd = static_cast<int>(sys(SYS_openat, AT_FDCWD,
                                            reinterpret_cast<long>("/proc/thread-self/children"),
                                            O_RDONLY | O_CLOEXEC));
        if (fd < 0)
            break;
        char text[4096];
        const long got = sys(SYS_read, fd, reinterpret_cast<long>(text), sizeof text - 1);
        sys(SYS_close, fd);
        bool any = false;
        long pid = 0;
        for (long i = 0; i < std::max(got, 0L) + 1; ++i) {
            const char ch = i < got ? text[i] : ' ';
            if (ch >= '0' && ch <= '9') {
                pid = pid * 10 + (ch - '0');
            } else if (pid > 0) {
                sys(SYS_kill, -pid, SIGKILL); // a daemon leads a group of its own
                sys(SYS_kill, pid, SIGKILL);
                any = true;
                pid = 0;
            }
        }
        if (!any)
            break;
        sys(SYS_wait4, -1, 0, __WALL, 0);
    }
    while (sys(SYS_wait4, -1, 0, __WALL | WNOHANG, 0) > 0) {
    }
}

// The guard blocks every signal, so no call of its own is interrupted: a
// wait that fails has nothing to wait for.
bool toolHasEnded(pid_t tool)
{
    siginfo_t info{};
    return sys(SYS_waitid, P_PID, tool, reinterpret_cast<long>(&info),
               WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid == tool;
}

void takeCount(int counter)
{
    std::uint64_t count = 0;
    sys(SYS_read, counter, reinterpret_cast<long>(&count), sizeof count);
}

void giveCount(int counter)
{
    const std::uint64_t one = 1;
    sys(SYS_write, counter, reinterpret_cast<long>(&one), sizeof one);
}

// Without process descriptors the guard looks again every 20 ms.
bool programGone(const GuardPlan &g, const pollfd &program)
{
    return program.revents != 0 || sys(SYS_getppid) != g.program;
}

int startTool(void *argument)
{
    GuardPlan &g = *static_cast<GuardPlan *>(argument);
    becomeTool(g.child, &g.toolError);
}

// Runs one tool to its end; false when the program has gone meanwhile.
bool guardOneTool(GuardPlan &g, int program)
{
    g.startError = 0;
    g.toolEnded = false;
    g.toolStatus = 0;
    takeCount(g.stop);                  // a stop of an earlier tool that came too late
    if (g.stopped.load() == g.serial) { // stopped before it started
        g.toolEnded = true;
        g.toolStatus = SIGKILL;
        return true;
    }
    // The guard does not wait for the tool's exec: the tool's start tells
    // a failure where the guard reads it once the tool has been reaped.
    g.toolError = 0;
    const pid_t tool = ::clone(startTool, g.toolStack, CLONE_VM | SIGCHLD, &g);
    if (tool < 0) {
        g.startError = EAGAIN;
        return true;
    }
    sys(SYS_setpgid, tool, tool); // the tool does it too; a stop may come first

    const int toolFd = static_cast<int>(sys(SYS_pidfd_open, tool, 0));
    pollfd fds[3] = {{toolFd, POLLIN, 0}, {program, POLLIN, 0}, {g.stop, POLLIN, 0}};
    const int wait = toolFd < 0 || program < 0 ? 20 : -1;
    bool gone = false;
    while (!toolHasEnded(tool)) {
        sys(SYS_poll, reinterpret_cast<long>(fds), 3, wait);
        gone = gone || programGone(g, fds[1]);
        bool stop = false;
        if (fds[2].revents != 0) {
            takeCount(g.stop);
            stop = g.stopped.load() == g.serial;
        }
        if (gone || stop) {
            sys(SYS_kill, -tool, SIGKILL);
            fds[1].fd = fds[2].fd = -1;
        }
    }
    // The tool stays a zombie until its group is ended, so the number
    // cannot name another group meanwhile.
    sys(SYS_kill, -tool, SIGKILL);
    int status = 0;
    if (sys(SYS_wait4, tool, reinterpret_cast<long>(&status), __WALL, 0) == tool) {
        g.toolStatus = status;
        g.toolEnded = true;
    }
    if (g.toolError != 0)
        g.startError = g.toolError;
    endWhatCameBack();
    if (toolFd >= 0)
        sys(SYS_close, toolFd);
    return !gone;
}

int guardTools(void *argument)
{
    GuardPlan &g = *static_cast<GuardPlan *>(argument);
    sys(SYS_prctl, PR_SET_CHILD_SUBREAPER, 1);
    const int program = static_cast<int>(sys(SYS_pidfd_open, g.program, 0));
    int keep[] = {g.request, g.done, g.stop, g.child.input, g.child.output, program};
    closeAllBut(keep);
    g.child.parent = static_cast<pid_t>(sys(SYS_getpid));
    pollfd fds[2] = {{g.request, POLLIN, 0}, {program, POLLIN, 0}};
    const int wait = program < 0 ? 20 : -1;
    while (sys(SYS_getppid) == g.program) {
        fds[0].revents = fds[1].revents = 0;
        sys(SYS_poll, reinterpret_cast<long>(fds), 2, wait);
        if (programGone(g, fds[1]))
            break;
        if (fds[0].revents == 0)
            continue;
        takeCount(g.request);
        if (g.quit || !guardOneTool(g, program))
            break;
        giveCount(g.done);
    }
    endWhatCameBack();
    sys(SYS_exit, 0);
    return 0;
}

// One thread's guard, made at its first tool and ended with the thread.
class ToolGuard {
public:
    // Null when no guard can be made; error then says why.
    static std::unique_ptr<ToolGuard> make(int *error)
    {
        std::unique_ptr<ToolGuard> guard(new ToolGuard);
        *error = guard->start();
        if (*error != 0)
            guard.reset();
        return guard;
    }

    ~ToolGuard()
    {
        if (m_pid > 0) {
            if (!m_lost) {
                m_plan.quit = true;
                giveCount(m_plan.request);
            }
            int status = 0;
            while (::waitpid(m_pid, &status, __WALL) < 0 && errno == EINTR) {
            }
        }
        for (const int fd : {m_plan.request, m_plan.done, m_plan.stop, m_output, m_pidFd})
            closeQuietly(fd);
    }

    bool lost() const { return m_lost; }

    // A stop from another thread, while this guard's tool is registered.
    void stop()
    {
        m_plan.stopped.store(m_plan.serial);
        giveCount(m_plan.stop);
    }

    void run(const char *program, char *const *argv, const char *folder, RunningTools &running,
             ToolOutcome &outcome)
    {
        m_plan.child.program = program;
        m_plan.child.argv = argv;
        m_plan.child.folder = folder;
        ++m_plan.serial;
        const qint64 number = static_cast<qint64>(reinterpret_cast<std::intptr_t>(this));
        if (!running.add(number)) {
            outcome.signal = SIGKILL;
            outcome.stopped = true;
            return;
        }
        const int cpu = ::sched_getcpu();
        if (cpu >= 0 && cpu < CPU_SETSIZE && cpu != m_cpu) {
            cpu_set_t here;
            CPU_ZERO(&here);
            CPU_SET(cpu, &here);
            m_cpu = ::sched_setaffinity(m_pid, sizeof here, &here) == 0 ? cpu : -1;
        }
        discardOutput();
        giveCount(m_plan.request);
        waitForDone(outcome);
        running.remove(number);
        if (m_lost) { // someone ended the guard: the tool went with it
            outcome.signal = SIGKILL;
        } else if (m_plan.startError != 0) {
            outcome.startError = m_plan.startError;
        } else {
            const int status = m_plan.toolEnded ? m_plan.toolStatus : SIGKILL;
            outcome.exited = WIFEXITED(status);
            outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
            outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
        outcome.stopped = running.stopped();
    }

private:
    ToolGuard()
        : m_stack(new char[2 * GuardStackSize])
    {}

    // Every signal is blocked while the guard is made, and it keeps them
    // blocked.
    int start()
    {
        int pipeFds[2] = {-1, -1};
        m_plan.program = ::getpid();
        if (::sched_getaffinity(0, sizeof m_plan.child.cpus, &m_plan.child.cpus) != 0)
            return errno;
        m_plan.request = ::eventfd(0, EFD_CLOEXEC);
        m_plan.done = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_plan.stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_plan.child.input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        int error = 0;
        if (m_plan.request < 0 || m_plan.done < 0 || m_plan.stop < 0 || m_plan.child.input < 0 ||
            ::pipe2(pipeFds, O_CLOEXEC) != 0)
            error = errno;
        m_output = pipeFds[0];
        m_plan.child.output = pipeFds[1];
        m_plan.child.byDefault.sa_handler = SIG_DFL;
        sigemptyset(&m_plan.child.byDefault.sa_mask);
        sigemptyset(&m_plan.child.none);
        if (error == 0) {
            char *const top = reinterpret_cast<char *>(
                reinterpret_cast<std::uintptr_t>(m_stack.get() + 2 * GuardStackSize) &
                ~std::uintptr_t(15));
            sigset_t all;
            sigset_t old;
            sigfillset(&all);
            ::pthread_sigmask(SIG_SETMASK, &all, &old);
            m_plan.toolStack = top - GuardStackSize;
            m_pid = ::clone(guardTools, top, CLONE_VM | SIGCHLD, &m_plan);
            error = m_pid < 0 ? errno : 0;
            ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        }
        // The guard has its own copies; the tools' ends are its alone.
        closeQuietly(m_plan.child.input);
        closeQuietly(m_plan.child.output);
        if (error != 0)
            return error;
        ::fcntl(m_output, F_SETFL, ::fcntl(m_output, F_GETFL) | O_NONBLOCK);
        m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
        return 0;
    }

    void waitForDone(ToolOutcome &outcome);
    void discardOutput();

    std::unique_ptr<char[]> m_stack;
    GuardPlan m_plan;
    pid_t m_pid = -1;
    int m_output = -1; // what the guard's tools print, one after another
    int m_pidFd = -1;
    int m_cpu = -1; // where the guard is kept
    bool m_lost = false;
};

// Nothing is there before a tool starts; should anything be, it is not
// this tool's.
void ToolGuard::discardOutput()
{
    ToolOutcome none;
    drain(m_output, none);
}

void ToolGuard::waitForDone(ToolOutcome &outcome)
{
    pollfd fds[3] = {{m_output, POLLIN, 0}, {m_plan.done, POLLIN, 0}, {m_pidFd, POLLIN, 0}};
    const nfds_t count = m_pidFd >= 0 ? 3 : 2;
    for (;;) {
        // Without a process descriptor, look again every 20 ms.
        ::poll(fds, count, m_pidFd >= 0 ? -1 : 20); // an interruption only looks again
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            drain(m_output, outcome);
        std::uint64_t count = 0;
        if (::read(m_plan.done, &count, sizeof count) == sizeof count)
            break;
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == m_pid) {
            m_lost = true;
            break;
        }
    }
    // What the tool printed last; everything that could write has ended.
    drain(m_output, outcome);
}

thread_local std::unique_ptr<ToolGuard> t_guard;

#else

int spawnChild(const ChildPlan &plan, pid_t *pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, plan.input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, plan.output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, plan.output, STDERR_FILENO);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &plan.none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP);
    const int rc = posix_spawn(pid, plan.program, &actions, &attr, plan.argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

#endif

#ifndef __linux__

int openProcessDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    Q_UNUSED(pid);
    return -1;
#endif
}

bool hasEnded(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Waits for the end while reading the output; the child stays a zombie (not
// reaped) so its number cannot be reused before its group is cleaned up.
void waitForEnd(pid_t pid, int output, ToolOutcome &outcome)
{
    const int processFd = openProcessDescriptor(pid);
    bool outputOpen = true;
    while (!hasEnded(pid)) {
        pollfd fds[2] = {{output, POLLIN, 0}, {processFd, POLLIN, 0}};
        const nfds_t count = processFd >= 0 ? 2 : 1;
        if (!outputOpen)
            fds[0].fd = -1;
        // Without a process descriptor, look again every 20 ms.
        ::poll(fds, count, processFd >= 0 ? -1 : 20); // an interruption only looks again
        if (outputOpen && (fds[0].revents & POLLNVAL))
            outputOpen = false;
        else if (outputOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            outputOpen = drain(output, outcome);
    }
    closeQuietly(processFd);
    if (outputOpen)
        drain(output, outcome); // what it printed last; never waits for its children
}

#endif

} // namespace

#ifdef __linux__
// The number is the tool's guard: it ends the tool, its group and whatever
// came back to it, at once. A tool is registered only while it runs, and
// its guard outlives that.
void endToolGroup(qint64 group)
{
    reinterpret_cast<ToolGuard *>(static_cast<std::intptr_t>(group))->stop();
}
#endif

ToolOutcome startAndWaitForTool(const QString &program, const QStringList &arguments,
                                const QString &folder, RunningTools &running)
{
    ToolOutcome outcome;
    const QByteArray resolved = resolveProgram(program);
    if (resolved.isEmpty()) {
        outcome.startError = ENOENT;
        return outcome;
    }
    struct stat st {};
    if (::stat(resolved.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        outcome.startError = EACCES;
        return outcome;
    }

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program)); // the tool sees its name as written
    for (const QString &a : arguments)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray folderName = QFile::encodeName(folder);
    const char *const folderPath = folder.isEmpty() ? nullptr : folderName.constData();

#ifdef __linux__
    if (t_guard && t_guard->lost())
        t_guard.reset();
    if (!t_guard) {
        t_guard = ToolGuard::make(&outcome.startError);
        if (!t_guard)
            return outcome;
    }
    t_guard->run(resolved.constData(), argv.data(), folderPath, running, outcome);
    if (t_guard->lost())
        t_guard.reset();
    return outcome;
#else
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        outcome.startError = errno;
        return outcome;
    }
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ChildPlan plan{};
    plan.program = resolved.constData();
    plan.argv = argv.data();
    plan.folder = folderPath;
    plan.input = input;
    plan.output = pipeFds[1];
    plan.parent = ::getpid();
    plan.byDefault.sa_handler = SIG_DFL;
    sigemptyset(&plan.byDefault.sa_mask);
    sigemptyset(&plan.none);

    pid_t pid = 0;
    outcome.startError = input < 0 ? errno : spawnChild(plan, &pid);
    closeQuietly(pipeFds[1]);
    closeQuietly(input);
    if (outcome.startError != 0) {
        closeQuietly(pipeFds[0]);
        return outcome;
    }
    ::setpgid(pid, pid); // the child does it too; whichever comes first wins
    if (!running.add(pid))
        endToolGroup(pid);
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);

    waitForEnd(pid, pipeFds[0], outcome);
    closeQuietly(pipeFds[0]);
    running.remove(pid);
    ::kill(-pid, SIGKILL); // anything the tool left running in its group
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exited = WIFEXITED(status);
    outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.stopped = running.stopped();
    return outcome;
#endif
}

} // namespace tinsoke
