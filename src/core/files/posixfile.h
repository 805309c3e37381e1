#pragma once

// Checked reads and writes through POSIX descriptors, shared by the verified
// writes and the journal of a run's writes. Every call is retried on EINTR
// and a short write counts as a full disk.

#include "privatefiles.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tinsoke {

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now, reporting what the close said: some file systems only
    // report a failed write there.
    int close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

inline bool fail(QString *error, const char16_t *what, int err = 0)
{
    if (error) {
        const QString text = QString::fromUtf16(what);
        *error = err ? QStringLiteral("%1 (%2)").arg(text, qt_error_string(err)) : text;
    }
    return false;
}

inline int syncFd(int fd)
{
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

// Writes all bytes at offset at; *done counts the bytes that went in. A
// write that makes no progress counts as a full disk.
inline int writeAllAt(int fd, const char *data, size_t size, off_t at, size_t *done)
{
    *done = 0;
    while (*done < size) {
        const ssize_t n = ::pwrite(fd, data + *done, size - *done, at + off_t(*done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        *done += size_t(n);
    }
    return 0;
}

// Writes all bytes into a new, empty file; 0 or the error number.
inline int writeAll(int fd, const char *data, size_t size)
{
    size_t done = 0;
    return writeAllAt(fd, data, size, 0, &done);
}

// Reads the open regular file from its start to its end; a file whose size
// differs from what fstat said changed under us.
inline bool readWhole(int fd, const struct stat &st, QByteArray *bytes, QString *error)
{
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype have = 0;
    for (;;) {
        if (have == data.size())
            data.resize(have + 64 * 1024); // grown since the fstat: read on to find out
        const ssize_t n = ::pread(fd, data.data() + have, size_t(data.size() - have), off_t(have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(error, u"読み込めません", errno);
        if (n == 0)
            break;
        have += n;
    }
    if (have != st.st_size)
        return fail(error, u"読み込み中にファイルが変わりました");
    data.resize(have);
    *bytes = std::move(data);
    return true;
}

// What a stat says of a file, as the program knows it.
inline FileIdentity identityOfStat(const struct stat &st)
{
    FileIdentity id;
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.device = static_cast<quint64>(st.st_dev);
    id.inode = static_cast<quint64>(st.st_ino);
    id.size = static_cast<qint64>(st.st_size);
    id.modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.changedNs = static_cast<qint64>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    return id;
}

// Makes the folder's entries durable; its failure changes no content.
inline void syncFolder(const QByteArray &folder)
{
    Fd fd(::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        syncFd(fd.get());
}

} // namespace tinsoke
