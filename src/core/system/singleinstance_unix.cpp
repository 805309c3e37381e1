#include "singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tinsoke {

// The per-user runtime folder when the session has one; otherwise the temp
// folder, shared by all users, so the user id goes into the name there.
QString instanceFilePath(const QString &name, const QString &suffix)
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir() && QDir::isAbsolutePath(runtimeDir))
        return runtimeDir + u'/' + name + suffix;
    return QDir::tempPath() + u'/' + name + u'-' + QString::number(geteuid()) + suffix;
}

SingleInstanceGuard::SingleInstanceGuard(const QString &name)
{
    const QByteArray path = QFile::encodeName(instanceFilePath(name, QStringLiteral(".lock")));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;

    // In a shared temp folder someone else could have planted the file to hold
    // the lock against us; only a regular file of our own counts.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }

    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);

    if (rc == 0) {
        m_state = State::Acquired;
        m_handle = fd;
        return;
    }
    if (errno == EWOULDBLOCK)
        m_state = State::HeldByAnother;
    ::close(fd);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    // Closing the descriptor drops the lock; the file itself stays for the next start.
    if (m_state == State::Acquired)
        ::close(static_cast<int>(m_handle));
}

} // namespace tinsoke
