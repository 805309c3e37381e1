#include "executeprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
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
#include <sys/prctl.h>
#include <sys/signalfd.h>
#endif

extern char **environ;

namespace tinsoke {

void endToolGroup(qint64 group)
{
#ifdef __linux__
    // The number is the tool's guard: it ends the tool, its group and
    // whatever came back to it, at once.
    ::kill(static_cast<pid_t>(group), SIGTERM);
#else
    ::kill(-static_cast<pid_t>(group), SIGKILL);
#endif
}

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
};

#ifdef __linux__

// The child shares the guard's memory until exec (vfork), with every signal
// blocked so that none of our handlers can run in it. It resets every
// handler to the default before it unblocks anything, so the tool starts
// clean.
[[noreturn]] void becomeTool(const ChildPlan &plan, volatile int *error)
{
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, &plan.byDefault, nullptr);
    ::setpgid(0, 0);
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
// stopped (SIGTERM to the guard) or when the program itself ends, however
// it ends. The guard lives in our memory (it is made like a thread, without
// copying anything), so it uses only system calls and this plan, and tells
// how the tool went by writing here before it ends.
struct GuardPlan {
    ChildPlan child;
    pid_t program = 0;
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
void closeAllBut(int a, int b, int c, int d)
{
#ifdef SYS_close_range
    int keep[] = {a, b, c, d};
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
    Q_UNUSED(a)
    , Q_UNUSED(b)
    , Q_UNUSED(c)
    , Q_UNUSED(d);
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

int guardTool(void *argument)
{
    GuardPlan &g = *static_cast<GuardPlan *>(argument);
    sys(SYS_prctl, PR_SET_CHILD_SUBREAPER, 1);
    const int program = static_cast<int>(sys(SYS_pidfd_open, g.program, 0));
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    const int stopFd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    closeAllBut(g.child.input, g.child.output, program, stopFd);
    if (sys(SYS_getppid) != g.program) { // the program has gone already
        g.startError = ECHILD;
        sys(SYS_exit, 0);
    }

    g.child.parent = static_cast<pid_t>(sys(SYS_getpid));
    volatile int childError = 0;
    const pid_t tool = ::vfork();
    if (tool == 0)
        becomeTool(g.child, &childError);
    sys(SYS_close, g.child.input);
    sys(SYS_close, g.child.output);
    if (tool < 0 || childError != 0) {
        g.startError = tool < 0 ? EAGAIN : childError;
        endWhatCameBack();
        sys(SYS_exit, 0);
    }

    const int toolFd = static_cast<int>(sys(SYS_pidfd_open, tool, 0));
    pollfd fds[3] = {{toolFd, POLLIN, 0}, {program, POLLIN, 0}, {stopFd, POLLIN, 0}};
    // Without process descriptors, look again every 20 ms.
    const int wait = toolFd < 0 || program < 0 ? 20 : -1;
    while (!toolHasEnded(tool)) {
        sys(SYS_poll, reinterpret_cast<long>(fds), 3, wait);
        const bool programGone = fds[1].revents != 0 || sys(SYS_getppid) != g.program;
        if (programGone || fds[2].revents != 0) {
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
    endWhatCameBack();
    sys(SYS_exit, 0);
    return 0;
}

// Starts the guard, which starts the tool. Every signal is blocked while
// it is made, and it keeps them blocked.
int spawnChild(GuardPlan &plan, char *stackTop, pid_t *pid)
{
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t guard = ::clone(guardTool, stackTop, CLONE_VM | SIGCHLD, &plan);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (guard < 0)
        return error;
    *pid = guard;
    return 0;
}

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

} // namespace

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

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        outcome.startError = errno;
        return outcome;
    }
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

#ifdef __linux__
    GuardPlan guard{};
    ChildPlan &plan = guard.child;
    guard.program = ::getpid();
    const std::unique_ptr<char[]> stack(new char[GuardStackSize]);
    char *const stackTop = reinterpret_cast<char *>(
        reinterpret_cast<std::uintptr_t>(stack.get() + GuardStackSize) & ~std::uintptr_t(15));
#else
    ChildPlan plan{};
#endif
    plan.program = resolved.constData();
    plan.argv = argv.data();
    plan.folder = folder.isEmpty() ? nullptr : folderName.constData();
    plan.input = input;
    plan.output = pipeFds[1];
    plan.parent = ::getpid();
    plan.byDefault.sa_handler = SIG_DFL;
    sigemptyset(&plan.byDefault.sa_mask);
    sigemptyset(&plan.none);

    pid_t pid = 0;
#ifdef __linux__
    outcome.startError = input < 0 ? errno : spawnChild(guard, stackTop, &pid);
#else
    outcome.startError = input < 0 ? errno : spawnChild(plan, &pid);
#endif
    closeQuietly(pipeFds[1]);
    closeQuietly(input);
    if (outcome.startError != 0) {
        closeQuietly(pipeFds[0]);
        return outcome;
    }
#ifndef __linux__
    ::setpgid(pid, pid); // the child does it too; whichever comes first wins
#endif
    if (!running.add(pid))
        endToolGroup(pid);
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);

    waitForEnd(pid, pipeFds[0], outcome);
    closeQuietly(pipeFds[0]);
    running.remove(pid);
#ifndef __linux__
    ::kill(-pid, SIGKILL); // anything the tool left running in its group
#endif
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
#ifdef __linux__
    // What the guard wrote is there once it has been reaped.
    if (guard.startError != 0) {
        outcome.startError = guard.startError;
        return outcome;
    }
    if (guard.toolEnded)
        status = guard.toolStatus;
#endif
    outcome.exited = WIFEXITED(status);
    outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.stopped = running.stopped();
    return outcome;
}

} // namespace tinsoke
