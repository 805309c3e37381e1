#include "privatefiles.h"

#include "paths.h"
#include "posixfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tinsoke {

namespace {

QString reasonFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("ファイルが見つかりません");
    case EACCES:
    case EPERM:
        return QStringLiteral("ファイルを読み込めません（アクセスが拒否されました）");
    default:
        return QStringLiteral("ファイルを読み込めません（%1）").arg(qt_error_string(error));
    }
}

QString notRegular()
{
    return QStringLiteral("通常のファイルではありません");
}

// Copies everything from one open descriptor to another, every step checked.
bool copyDescriptor(int from, int to, qint64 expected, QString *error)
{
    char buffer[1 << 16];
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = qt_error_string(errno);
            return false;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                *error = qt_error_string(w < 0 ? errno : ENOSPC);
                return false;
            }
            done += w;
        }
        total += n;
    }
    struct stat st {};
    if (::fstat(to, &st) != 0 || st.st_size != total || (expected >= 0 && total != expected)) {
        *error = QStringLiteral("コピーの大きさが合いません");
        return false;
    }
    return true;
}

bool copyToNew(int from, const QString &target, qint64 expected, QString *error)
{
    const QByteArray name = bytesOfPath(target);
    const int to =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    const bool copied = copyDescriptor(from, to, expected, error);
    const bool closed = ::close(to) == 0;
    if (copied && !closed)
        *error = qt_error_string(errno);
    if (!copied || !closed) {
        ::unlink(name.constData());
        return false;
    }
    return true;
}

} // namespace

FileIdentity FileIdentity::of(const QString &path)
{
    struct stat st {};
    if (::lstat(bytesOfPath(path).constData(), &st) != 0)
        return {};
    return identityOfStat(st);
}

OpenedFile OpenedFile::open(const QString &path, QString *error)
{
    OpenedFile file;
    const QByteArray name = bytesOfPath(path);
    struct stat st {};
    // Look before opening: opening a device or a FIFO can wait, or do something.
    if (::stat(name.constData(), &st) != 0) {
        *error = reasonFor(errno);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = notRegular();
        return file;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = reasonFor(errno);
        return file;
    }
    // The name may have changed hands between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = notRegular();
        return file;
    }
    char real[PATH_MAX];
    if (!::realpath(name.constData(), real)) {
        ::close(fd);
        *error = reasonFor(errno);
        return file;
    }
    file.m_fd = fd;
    file.m_identity = identityOfStat(st);
    file.m_realPath = pathFromBytes(real);
    return file;
}

OpenedFile::~OpenedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool OpenedFile::copyTo(const QString &target, QString *error) const
{
    return copyToNew(m_fd, target, m_identity.size, error);
}

QByteArray OpenedFile::digest() const
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(m_fd, buffer.data(), static_cast<size_t>(buffer.size()), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        at += n;
    }
    return hash.result();
}

bool OpenedFile::unchangedOnDisk() const
{
    struct stat st {};
    if (::stat(bytesOfPath(m_realPath).constData(), &st) != 0)
        return false;
    return identityOfStat(st).sameAs(m_identity);
}

namespace {

// Removes what stands at path, a folder with all it holds; a link is
// removed, never followed. Our own folders get their owner's permissions
// back first, so a tool that locked its folder cannot keep it.
bool removeEntry(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.constData()) == 0 || errno == ENOENT;
    if (st.st_uid == ::geteuid() && (st.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.constData(), (st.st_mode & 07777) | S_IRWXU);
    bool all = true;
    if (DIR *dir = ::opendir(path.constData())) {
        QList<QByteArray> names;
        while (const dirent *e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name != "." && name != "..")
                names.append(path + '/' + name);
        }
        ::closedir(dir);
        for (const QByteArray &name : std::as_const(names))
            all = removeEntry(name) && all;
    }
    return (::rmdir(path.constData()) == 0 || errno == ENOENT) && all;
}

} // namespace

bool removePrivateFolder(const QString &path)
{
    return removeEntry(bytesOfPath(path));
}

bool copyPrivateFile(const QString &from, const QString &to, QString *error)
{
    const int fd =
        ::open(bytesOfPath(from).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    const bool copied = copyToNew(fd, to, -1, error);
    ::close(fd);
    return copied;
}

namespace {

// What dead runs of this user left in the temporary folder: a run folder
// whose lock no process holds belongs to a run that is gone. Its journal is
// carried out, then the folder goes. A folder without a lock (left half
// removed by an older version) goes once it has been still for ten minutes:
// a new run's folder lacks its lock only for the moment it takes to make
// one. A live run's is never touched.
void clearDeadRuns(const QString &temporary)
{
    const QStringList names = QDir(temporary).entryList(
        {QStringLiteral("pelmora-tinsoke-*")}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QString folder = temporary + u'/' + name;
        const QByteArray path = bytesOfPath(folder);
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const int lock = ::open((path + "/lock").constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (lock < 0) {
            if (errno == ENOENT && st.st_mtime < ::time(nullptr) - 10 * 60)
                removePrivateFolder(folder);
            continue;
        }
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            recoverWrites(folder + QStringLiteral("/journal"));
            removePrivateFolder(folder);
        }
        ::close(lock);
    }
}

} // namespace

std::unique_ptr<RunFolder> RunFolder::create(QString *error)
{
    clearDeadRuns(temporaryFolder());
    QByteArray name = bytesOfPath(temporaryFolder() + QStringLiteral("/pelmora-tinsoke-XXXXXX"));
    if (!::mkdtemp(name.data())) { // a new name, mode 0700
        *error = QStringLiteral("一時フォルダを作成できません（%1：%2）")
                     .arg(temporaryFolder(), qt_error_string(errno));
        return nullptr;
    }
    std::unique_ptr<RunFolder> folder(new RunFolder(pathFromBytes(name)));
    // Locked before it takes its name, so no other start finds it free.
    const QByteArray fresh = name + "/lock.new";
    const int lock = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0 ||
        ::write(lock, pid.constData(), size_t(pid.size())) != pid.size() ||
        ::rename(fresh.constData(), (name + "/lock").constData()) != 0 ||
        ::mkdir((name + "/journal").constData(), 0700) != 0) {
        *error = QStringLiteral("一時フォルダを作成できません（%1：%2）")
                     .arg(pathFromBytes(name), qt_error_string(errno));
        if (lock >= 0)
            ::close(lock);
        return nullptr;
    }
    folder->m_lock = lock;
    folder->m_journal = std::make_unique<WriteJournal>(pathFromBytes(name + "/journal"));
    return folder;
}

RunFolder::~RunFolder()
{
    remove();
}

bool RunFolder::remove()
{
    if (m_path.isEmpty())
        return true;
    // While it is still locked: no other start takes it for a dead run's.
    const bool removed = removePrivateFolder(m_path);
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
    m_path.clear();
    return removed;
}

QString RunFolder::makeRowFolder(int row, QString *error) const
{
    const QString path = m_path + u'/' + QString::number(row);
    if (::mkdir(bytesOfPath(path).constData(), 0700) != 0) {
        *error = QStringLiteral("一時フォルダを作成できません（%1：%2）")
                     .arg(path, qt_error_string(errno));
        return QString();
    }
    return path;
}

} // namespace tinsoke
