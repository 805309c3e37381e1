#include "commandsplit.h"
#include "executeprocess.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
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

// Starts the program with the arguments; returns 0 or the system's error number.
int spawn(const SplitCommandLine &cmd, pid_t *pid)
{
    if (cmd.program.isEmpty())
        return ENOENT;

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(cmd.program));
    for (const QString &a : cmd.arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    // A tool gets no input from us: one that asks for some must not wait forever.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Nothing of ours but the standard streams reaches the tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // A bare name is looked for in the current folder first, then along PATH.
    const bool searchPath = !cmd.program.contains(u'/') && !isFile(cmd.program);
    const int rc = searchPath ? posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ)
                              : posix_spawn(pid, argv[0], &actions, &attr, argv.data(), environ);

    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
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
