#include "commandsplit.h"
#include "executeprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tinsoke {

namespace {

constexpr int EventSliceMs = 100;

bool isFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

#ifdef __linux__

// What the child needs before it becomes the tool. It shares our memory
// until then, so it touches nothing but these and makes only system calls.
struct ChildStart {
    const char *program;
    char *const *argv;
    volatile int error;
};

int startChild(void *arg)
{
    auto *start = static_cast<ChildStart *>(arg);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // A tool gets no input from us: one that asks for some must not wait forever.
    const int in = ::open("/dev/null", O_RDONLY);
    if (in > STDIN_FILENO) {
        ::dup2(in, STDIN_FILENO);
        ::close(in);
    }
    // Nothing of ours but the standard streams reaches the tool.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    ::execve(start->program, start->argv, environ);
    start->error = errno;
    ::_exit(127);
}

// Like posix_spawn, which does the same in a new process that shares our
// memory until it runs the program, but on a stack kept from one start to
// the next and without walking every signal: the child blocks them all
// until exec, and exec itself resets the handled ones. The tools start as
// quickly as from a shell.
int spawnProgram(const QByteArray &program, char *const *argv, pid_t *pid)
{
    static std::mutex stackInUse;
    alignas(64) static std::array<char, 128 * 1024> stack;
    const std::lock_guard<std::mutex> lock(stackInUse);

    ChildStart start{program.constData(), argv, 0};
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t child =
        ::clone(startChild, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (child < 0)
        return cloneError;
    if (start.error != 0) { // the program could not be run; the child has ended
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return start.error;
    }
    *pid = child;
    return 0;
}

#else

int spawnProgram(const QByteArray &program, char *const *argv, pid_t *pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    const int rc = posix_spawn(pid, program.constData(), &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

#endif

// Starts the program with the arguments; returns 0 or the system's error number.
int spawn(const SplitCommandLine &cmd, pid_t *pid)
{
    if (cmd.program.isEmpty())
        return ENOENT;

    // A bare name is looked for in the current folder first, then along PATH.
    QString program = cmd.program;
    if (!program.contains(u'/') && !isFile(program)) {
        program = QStandardPaths::findExecutable(program);
        if (program.isEmpty())
            return ENOENT;
    }

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &a : cmd.arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    // The tool sees the name as written, as its first argument.
    const QByteArray shownName = QFile::encodeName(cmd.program);
    argv[0] = const_cast<char *>(shownName.constData());
    return spawnProgram(storage.front(), argv.data(), pid);
}

// True when the child has ended (and has been reaped), or cannot be waited for.
bool reaped(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    return r != 0;
}

// Sleeps on a descriptor that becomes readable when the process ends, so the
// end is noticed at once; events are handled between slices.
bool waitWithPidfd(pid_t pid, ToolRunHost &host)
{
#ifdef SYS_pidfd_open
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return false;
    int r;
    do {
        pollfd p{fd, POLLIN, 0};
        r = ::poll(&p, 1, EventSliceMs);
        if (r == 0)
            host.processPendingEvents();
    } while (r == 0 || (r < 0 && errno == EINTR));
    ::close(fd);
    if (r < 0)
        return false; // the descriptor failed us: wait the other way
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
#else
    Q_UNUSED(pid);
    Q_UNUSED(host);
    return false;
#endif
}

// For kernels without process descriptors: short sleeps between checks.
void waitByPolling(pid_t pid, ToolRunHost &host)
{
    constexpr long SleepNs = 2'000'000;
    long sinceEventsNs = 0;
    while (!reaped(pid)) {
        timespec ts{0, SleepNs};
        ::nanosleep(&ts, nullptr);
        sinceEventsNs += SleepNs;
        if (sinceEventsNs >= EventSliceMs * 1'000'000L) {
            host.processPendingEvents();
            sinceEventsNs = 0;
        }
    }
}

} // namespace

void RunExternalTool(const QString &commandLine, ToolRunHost &host)
{
    const SplitCommandLine cmd = splitCommandLine(commandLine, isFile);
    pid_t pid = 0;
    const int error = spawn(cmd, &pid);
    if (error != 0) {
        host.reportStartFailure(startFailureMessage(static_cast<unsigned long>(error)));
        return;
    }
    if (!waitWithPidfd(pid, host))
        waitByPolling(pid, host);
}

} // namespace tinsoke
