#include "writejournal.h"

#include "paths.h"
#include "posixfile.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tinsoke {

namespace {

bool readFile(const QByteArray &path, QByteArray *bytes)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    return fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
           readWhole(fd.get(), st, bytes, nullptr);
}

bool holds(const QByteArray &bytes, const QByteArray &size, const QByteArray &digest)
{
    return QByteArray::number(bytes.size()) == size &&
           QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256).toHex() == digest;
}

// Whether content is what a rewrite of old by fresh, cut short, could have
// left: each byte still old or already fresh, at a length one of the two had
// or the longer of them. Another program's edit made since leaves other bytes.
bool leftByRewrite(const QByteArray &now, const QByteArray &old, const QByteArray &fresh)
{
    const qsizetype longer = std::max(old.size(), fresh.size());
    if (now.size() != old.size() && now.size() != fresh.size() && now.size() != longer)
        return false;
    for (qsizetype i = 0; i < now.size(); ++i) {
        const bool wasOld = i < old.size() && now.at(i) == old.at(i);
        if (!wasOld && (i >= fresh.size() || now.at(i) != fresh.at(i)))
            return false;
    }
    return true;
}

// A file rewritten in its own inode when the kill came: the new content
// whole, or the old bytes back. Only the very file the run was writing is
// touched, and only while it holds what the run could have left there: a
// file saved at its name since, or edited since, stays as it is.
void recoverInPlace(const QList<QByteArray> &f)
{
    Fd fd(::open(f[1].constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        QByteArray::number(quint64(st.st_dev)) != f[7] ||
        QByteArray::number(quint64(st.st_ino)) != f[8])
        return;
    QByteArray now, old, fresh;
    if (!readWhole(fd.get(), st, &now, nullptr) || holds(now, f[3], f[4]) ||
        !readFile(f[2], &old) || now == old)
        return;
    // Without the new bytes to compare with, the file being the same one is all there is to go by.
    if (readFile(f[9], &fresh) && holds(fresh, f[3], f[4]) && !leftByRewrite(now, old, fresh))
        return;
    size_t written = 0;
    if (writeAllAt(fd.get(), old.constData(), size_t(old.size()), 0, &written) == 0 &&
        ::ftruncate(fd.get(), off_t(old.size())) == 0) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {f[5].toLongLong(), f[6].toLong()}};
        (void)::futimens(fd.get(), times); // only the owner may; the bytes are what counts
    }
    syncFd(fd.get());
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
        Fd fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0 && errno == EEXIST)
            continue;
        if (fd.get() < 0)
            break;
        if (writeAll(fd.get(), content.constData(), size_t(content.size())) != 0 ||
            syncFd(fd.get()) != 0 || fd.close() != 0) {
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
            } else if (f[0] == "inplace" && f.size() == 10) {
                recoverInPlace(f);
                ::unlink(f[2].constData());
            }
        }
        ::unlink(record.constData());
    }
}

} // namespace tinsoke
