#include "writejournal.h"

#include "paths.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tinsoke {

namespace {

int syncAndClose(int fd)
{
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    const int err = rc == 0 ? 0 : errno;
    return ::close(fd) == 0 ? err : errno;
}

bool writeWhole(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The whole of an open regular file; false when it cannot be read.
bool readWhole(int fd, QByteArray *bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    bytes->resize(qsizetype(st.st_size));
    qsizetype have = 0;
    while (have < bytes->size()) {
        const ssize_t n =
            ::pread(fd, bytes->data() + have, size_t(bytes->size() - have), off_t(have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        have += n;
    }
    return true;
}

bool readFile(const QByteArray &path, QByteArray *bytes)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = readWhole(fd, bytes);
    ::close(fd);
    return read;
}

bool holds(const QByteArray &bytes, const QByteArray &size, const QByteArray &digest)
{
    return QByteArray::number(bytes.size()) == size &&
           QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256).toHex() == digest;
}

void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        syncAndClose(fd);
}

// A file rewritten in its own inode when the kill came: the new content
// whole, or the old bytes back.
void recoverInPlace(const QList<QByteArray> &f)
{
    const int fd = ::open(f[1].constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    QByteArray now, old;
    if (readWhole(fd, &now) && !holds(now, f[3], f[4]) && readFile(f[2], &old) && now != old &&
        writeWhole(fd, old) && ::ftruncate(fd, off_t(old.size())) == 0) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {f[5].toLongLong(), f[6].toLong()}};
        (void)::futimens(fd, times); // only the owner may; the bytes are what counts
    }
    syncAndClose(fd);
}

} // namespace

bool JournalRecord::begin(const WriteJournal *journal, const QList<QByteArray> &fields,
                          QString *error)
{
    end();
    if (!journal)
        return true;
    m_folder = bytesOfPath(journal->folder());
    QByteArray content;
    for (const QByteArray &field : fields)
        content += field + '\0';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray path = m_folder + "/record-" +
                                QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        const bool written = fd >= 0 && writeWhole(fd, content);
        if ((fd >= 0 && syncAndClose(fd) != 0) || !written) {
            ::unlink(path.constData());
            break;
        }
        m_path = path;
        syncFolder(m_folder);
        return true;
    }
    if (error)
        *error = QStringLiteral("作業の記録を書けません（%1）").arg(qt_error_string(errno));
    return false;
}

QByteArray JournalRecord::sparePath(const WriteJournal &journal)
{
    return bytesOfPath(journal.folder()) + "/old-" +
           QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

void JournalRecord::end()
{
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
    m_path.clear();
}

void recoverWrites(const QString &folder)
{
    const QByteArray path = bytesOfPath(folder);
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return;
    QList<QByteArray> records;
    while (const dirent *e = ::readdir(dir))
        if (QByteArray(e->d_name).startsWith("record-"))
            records << path + '/' + e->d_name;
    ::closedir(dir);

    for (const QByteArray &record : std::as_const(records)) {
        QByteArray content;
        if (readFile(record, &content) && content.endsWith('\0')) {
            content.chop(1);
            const QList<QByteArray> f = content.split('\0');
            struct stat st {};
            if (f[0] == "beside" && f.size() == 2) {
                // Only a hidden file of our own naming, never what stands there otherwise.
                if (f[1].contains("/.") && f[1].contains(".tinsoke-") &&
                    ::lstat(f[1].constData(), &st) == 0 && S_ISREG(st.st_mode))
                    ::unlink(f[1].constData());
            } else if (f[0] == "inplace" && f.size() == 7) {
                recoverInPlace(f);
                ::unlink(f[2].constData());
            }
        }
        ::unlink(record.constData());
    }
}

} // namespace tinsoke
