#include "executeprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char **environ;

namespace tinsoke {

void endToolGroup(qint64 group)
{
    ::kill(-static_cast<pid_t>(group), SIGKILL);
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

// The child shares our memory until exec (vfork), with every signal blocked
// so that none of our handlers can run in it. It resets every handler to the
// default before it unblocks anything, so the tool starts clean.
[[noreturn]] void becomeTool(const ChildPlan &plan, volatile int *error)
{
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, &plan.byDefault, nullptr);
    ::setpgid(0, 0);
    // The tool ends with us, even when we are killed outright.
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

int spawnChild(const ChildPlan &plan, pid_t *pid)
{
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    volatile int childError = 0;
    const pid_t child = ::vfork();
    if (child == 0)
        becomeTool(plan, &childError);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (child < 0)
        return forkError;
    if (childError != 0) { // exec failed; the child has ended
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return childError;
    }
    *pid = child;
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
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
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
        const int r = ::poll(fds, count, processFd >= 0 ? -1 : 20);
        if (r < 0 && errno != EINTR)
            break;
        if (outputOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
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

    ChildPlan plan{};
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
    outcome.startError = input < 0 ? errno : spawnChild(plan, &pid);
    closeQuietly(pipeFds[1]);
    closeQuietly(input);
    if (outcome.startError != 0) {
        closeQuietly(pipeFds[0]);
        return outcome;
    }
    ::setpgid(pid, pid); // the child does it too; whichever comes first wins
    if (!running.add(pid))
        ::kill(-pid, SIGKILL);
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
}

} // namespace tinsoke
