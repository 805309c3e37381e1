#include "safewrite.h"

#include "paths.h"
#include "posixfile.h"
#include "writejournal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace tinsoke {

namespace {

// Opens a file that must be regular, never blocking on a FIFO or device.
int openRegular(const QByteArray &path, int flags, struct stat *st, QString *error)
{
    Fd fd(::open(path.constData(), flags | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return fail(error, u"開けません", errno), -1;
    if (::fstat(fd.get(), st) != 0)
        return fail(error, u"開けません", errno), -1;
    if (!S_ISREG(st->st_mode))
        return fail(error, u"通常のファイルではありません"), -1;
    return fd.release();
}

// Splits a path into its folder (with the slash) and its name.
std::pair<QByteArray, QByteArray> splitPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return {path.left(slash + 1), path.mid(slash + 1)};
}

// A new file beside path under a hidden, unique name; *tempPath gets its name.
// The journal learns the name before the file exists, so a kill leaves none
// that a later start cannot find.
int createBeside(const QByteArray &path, mode_t mode, QByteArray *tempPath,
                 const WriteJournal *journal, JournalRecord *record, QString *error)
{
    const auto [folder, name] = splitPath(path);
    // Short enough that the suffix still fits within a name's limit.
    const QByteArray stem = folder + '.' + name.left(200) + ".tinsoke-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint64 r = QRandomGenerator::global()->generate64();
        const QByteArray candidate = stem + QByteArray::number(r, 36);
        if (!record->begin(journal, {"beside", candidate}, error))
            return -1;
        const int fd = ::open(candidate.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            *tempPath = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return fail(error, u"一時ファイルを作れません", errno), -1;
    }
    return fail(error, u"一時ファイルを作れません", EEXIST), -1;
}

void syncFolderOf(const QByteArray &path)
{
    // After the rename the new content is in place either way; syncing the
    // folder only makes the new name durable, so its failure changes nothing.
    syncFolder(splitPath(path).first);
}

// Extended attribute names, read through a descriptor or, when fd is -1, by
// path without following a link. A file system without them has none.
bool attributeNames(int fd, const QByteArray &path, QList<QByteArray> *names, QString *error)
{
    names->clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::llistxattr(path, nullptr, 0);
        if (size < 0 && (errno == ENOTSUP || errno == ENOSYS))
            return true;
        if (size < 0)
            return fail(error, u"拡張属性を読めません", errno);
        if (size == 0)
            return true;
        QByteArray list(size, Qt::Uninitialized);
        size = fd >= 0 ? ::flistxattr(fd, list.data(), size_t(list.size()))
                       : ::llistxattr(path, list.data(), size_t(list.size()));
        if (size < 0 && errno == ERANGE)
            continue; // grew in between
        if (size < 0)
            return fail(error, u"拡張属性を読めません", errno);
        list.truncate(size);
        for (const QByteArray &n : list.split('\0'))
            if (!n.isEmpty())
                names->append(n);
        return true;
    }
    return fail(error, u"拡張属性を読めません", ERANGE);
}

bool attributeValue(int fd, const QByteArray &path, const QByteArray &name, QByteArray *value,
                    QString *error)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size =
            fd >= 0 ? ::fgetxattr(fd, name, nullptr, 0) : ::lgetxattr(path, name, nullptr, 0);
        if (size < 0)
            return fail(error, u"拡張属性を読めません", errno);
        value->resize(size);
        size = fd >= 0 ? ::fgetxattr(fd, name, value->data(), size_t(value->size()))
                       : ::lgetxattr(path, name, value->data(), size_t(value->size()));
        if (size < 0 && errno == ERANGE)
            continue;
        if (size < 0)
            return fail(error, u"拡張属性を読めません", errno);
        value->truncate(size);
        return true;
    }
    return fail(error, u"拡張属性を読めません", ERANGE);
}

// The system's own namespaces: a user may not be permitted to set them, and
// the system sets them anew on a new file.
bool systemOwned(const QByteArray &name)
{
    return name.startsWith("security.") || name.startsWith("trusted.");
}

// Gives the new file `to` what the user's file had: owner and group (where
// permitted), extended attributes and ACLs, mode, and with keepTimes its
// access and modification times. The user's file is read through fromFd or,
// when that is -1, by fromPath.
bool keepAttributes(int fromFd, const QByteArray &fromPath, const struct stat &from, int to,
                    bool keepTimes, bool *ownerLost, QString *error)
{
    struct stat now {};
    if (::fstat(to, &now) != 0)
        return fail(error, u"属性を引き継げません", errno);
    if (now.st_uid != from.st_uid || now.st_gid != from.st_gid) {
        // Only the superuser may give a file away; anyone may pick a group of theirs.
        if (::fchown(to, from.st_uid, from.st_gid) != 0 &&
            ::fchown(to, uid_t(-1), from.st_gid) != 0) {
            // checked below: the file then cannot carry them
        }
        if (::fstat(to, &now) != 0)
            return fail(error, u"属性を引き継げません", errno);
        if (now.st_uid != from.st_uid || now.st_gid != from.st_gid) {
            *ownerLost = true;
            return fail(error, u"所有者とグループを引き継げません");
        }
    }

    QList<QByteArray> wanted;
    QList<QByteArray> present;
    if (!attributeNames(fromFd, fromPath, &wanted, error) ||
        !attributeNames(to, QByteArray(), &present, error))
        return false;
    // What the folder's defaults gave the new file but the user's file lacks goes.
    for (const QByteArray &name : std::as_const(present)) {
        if (!wanted.contains(name) && ::fremovexattr(to, name) != 0 && !systemOwned(name) &&
            errno != ENODATA)
            return fail(error, u"拡張属性を引き継げません", errno);
    }
    QByteArray value;
    for (const QByteArray &name : std::as_const(wanted)) {
        if (!attributeValue(fromFd, fromPath, name, &value, error))
            return false;
        if (::fsetxattr(to, name, value.constData(), size_t(value.size()), 0) != 0 &&
            !systemOwned(name))
            return fail(error, u"拡張属性を引き継げません", errno);
    }

    // After the ACL: the mode's group bits then agree with its mask, as they did.
    if (::fchmod(to, from.st_mode & 07777) != 0)
        return fail(error, u"属性を引き継げません", errno);
    if (keepTimes) {
        const struct timespec times[2] = {from.st_atim, from.st_mtim};
        if (::futimens(to, times) != 0)
            return fail(error, u"更新日時を引き継げません", errno);
    }
    return true;
}

// Syncs the written file and compares its size with what was meant to be
// there: the last check before it may take anyone's place.
bool confirmWritten(int fd, qint64 size, QString *error)
{
    if (const int err = syncFd(fd))
        return fail(error, u"ディスクに書き出せません", err);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(error, u"書き込めません", errno);
    if (st.st_size != size)
        return fail(error, u"書き込んだ大きさが合いません");
    return true;
}

// Another program changed the file since it was read: its edit wins.
bool changedMeanwhile(WriteCheck *check, QString *error,
                      const char16_t *what = u"処理中にほかのプログラムが変更しました")
{
    if (check)
        check->changedMeanwhile = true;
    return fail(error, what);
}

// Whether the open file is still as st describes it; says why not.
bool stillAsRead(int fd, const struct stat &st, WriteCheck *check, QString *error)
{
    struct stat now {};
    if (::fstat(fd, &now) == 0 && identityOfStat(now).sameAs(identityOfStat(st)))
        return true;
    return changedMeanwhile(check, error);
}

// Writes bytes to a new file beside target, gives it the attributes of the
// user's file described by from (when given) and renames it over target,
// provided target is still that file. On failure the new file is removed.
bool replaceByNewFile(const QByteArray &target, const QByteArray &bytes, int fromFd,
                      const struct stat *from, bool keepTimes, const WriteJournal *journal,
                      bool *ownerLost, WriteCheck *check, QString *error)
{
    QByteArray tempPath;
    JournalRecord record;
    // A new file stays private while it is written, unless nothing is there to protect.
    Fd fd(createBeside(target, from ? 0600 : 0666, &tempPath, journal, &record, error));
    if (fd.get() < 0)
        return false;
    bool ok = true;
    if (const int err = writeAll(fd.get(), bytes.constData(), size_t(bytes.size())))
        ok = fail(error, u"書き込めません", err);
    ok = ok &&
         (!from || keepAttributes(fromFd, target, *from, fd.get(), keepTimes, ownerLost, error));
    ok = ok && confirmWritten(fd.get(), bytes.size(), error);
    // Kept open past the close that reports a failed write, to learn what
    // the rename made of it.
    Fd written(ok ? ::dup(fd.get()) : -1);
    if (ok) {
        if (const int err = fd.close())
            ok = fail(error, u"書き込めません", err);
    }
    if (ok && from) {
        // The last look before the rename, as close to it as the system
        // allows: no system offers a rename that compares first.
        struct stat still {};
        if (::lstat(target.constData(), &still) != 0 || still.st_dev != from->st_dev ||
            still.st_ino != from->st_ino)
            ok = changedMeanwhile(check, error,
                                  u"処理中にほかのプログラムがファイルを入れ替えました");
        // Rewritten in place by someone else meanwhile: their edit wins.
        ok = ok && (fromFd < 0 || stillAsRead(fromFd, *from, check, error));
    }
    if (ok && ::rename(tempPath.constData(), target.constData()) != 0)
        ok = fail(error, u"置き換えられません", errno);
    if (!ok) {
        fd.reset();
        ::unlink(tempPath.constData());
        return false;
    }
    struct stat after {};
    if (check && written.get() >= 0 && ::fstat(written.get(), &after) == 0)
        check->written = identityOfStat(after);
    syncFolderOf(target);
    return true;
}

// Keeps the old bytes of a file about to be rewritten in place, and tells
// the journal, so that a later start can give them back after a kill.
bool keepOldBytes(const WriteJournal *journal, const QByteArray &target, const struct stat &st,
                  const QByteArray &old, const QByteArray &bytes, const QByteArray &source,
                  JournalRecord *record, QByteArray *spare, QString *error)
{
    if (!journal)
        return true;
    *spare = JournalRecord::sparePath(*journal);
    Fd fd(::open(spare->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return fail(error, u"元の内容の控えを作れません", errno);
    if (const int err = writeAll(fd.get(), old.constData(), size_t(old.size())))
        return ::unlink(spare->constData()), fail(error, u"元の内容の控えを作れません", err);
    if (!confirmWritten(fd.get(), old.size(), error) || fd.close() != 0)
        return ::unlink(spare->constData()), false;
    const QByteArray digest =
        QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256).toHex();
    // The file itself by its device and inode, and where its new bytes come
    // from: a later start puts the old bytes back only into that file, and
    // only while it holds what this write could have left there.
    if (!record->begin(journal,
                       {"inplace", target, *spare, QByteArray::number(bytes.size()), digest,
                        QByteArray::number(qint64(st.st_mtim.tv_sec)),
                        QByteArray::number(qint64(st.st_mtim.tv_nsec)),
                        QByteArray::number(quint64(st.st_dev)),
                        QByteArray::number(quint64(st.st_ino)), source},
                       error))
        return ::unlink(spare->constData()), false;
    return true;
}

// Rewrites the open file in its own inode so that every hard-linked name sees
// the new content, and so that a file of another owner stays theirs. Should
// that fail, what was overwritten is written back; should a kill cut it
// short, the journal's copy is.
bool rewriteInPlace(int fd, const QByteArray &target, const struct stat &st,
                    const QByteArray &bytes, const QByteArray &source, const WriteJournal *journal,
                    WriteCheck *check, QString *error)
{
    QByteArray old;
    if (!readWhole(fd, st, &old, error))
        return false;
    JournalRecord record;
    QByteArray spare;
    if (!keepOldBytes(journal, target, st, old, bytes, source, &record, &spare, error))
        return false;
    const auto spareGone = qScopeGuard([&] {
        record.end();
        if (!spare.isEmpty())
            ::unlink(spare.constData());
    });
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    // Only the owner may set the times; another user with write access may
    // still rewrite the content, and the owner matters more than the time.
    const bool owner = ::geteuid() == 0 || ::geteuid() == st.st_uid;

    // The last look before the first byte goes in: the old bytes kept are
    // still the file's, and nobody's edit is overwritten.
    if (check && check->expected && !stillAsRead(fd, st, check, error))
        return false;
    size_t written = 0;
    bool truncated = false;
    QString why;
    int err = writeAllAt(fd, bytes.constData(), size_t(bytes.size()), 0, &written);
    if (err)
        why = QStringLiteral("書き込めません");
    if (!err && (err = syncFd(fd)))
        why = QStringLiteral("ディスクに書き出せません");
    if (!err) {
        truncated = true;
        if (::ftruncate(fd, off_t(bytes.size())) != 0)
            err = errno, why = QStringLiteral("書き込めません");
    }
    if (!err) {
        QString confirmError;
        if (!confirmWritten(fd, bytes.size(), &confirmError))
            err = -1, why = confirmError;
    }
    if (!err && ::futimens(fd, times) != 0 && (owner || errno != EPERM))
        err = errno, why = QStringLiteral("更新日時を引き継げません");
    if (!err && (err = syncFd(fd)))
        why = QStringLiteral("ディスクに書き出せません");
    struct stat after {};
    if (!err && check && ::fstat(fd, &after) == 0)
        check->written = identityOfStat(after);
    if (!err)
        return true;

    // Only what was overwritten goes back; the rest still holds the old bytes
    // unless the file was already cut to its new length.
    const size_t back = truncated ? size_t(old.size()) : std::min(written, size_t(old.size()));
    size_t done = 0;
    const bool restored = writeAllAt(fd, old.constData(), back, 0, &done) == 0 &&
                          ::ftruncate(fd, off_t(old.size())) == 0 && syncFd(fd) == 0 &&
                          (::futimens(fd, times) == 0 || !owner);
    if (error) {
        *error = err > 0 ? QStringLiteral("%1 (%2)").arg(why, qt_error_string(err)) : why;
        if (!restored)
            *error += QStringLiteral("。元の内容を書き戻せませんでした");
    }
    return false;
}

} // namespace

bool readRegularFile(const QString &path, QByteArray *bytes, QString *error)
{
    struct stat st {};
    Fd fd(openRegular(bytesOfPath(path), O_RDONLY, &st, error));
    return fd.get() >= 0 && readWhole(fd.get(), st, bytes, error);
}

bool writeFileVerified(const QString &path, const QByteArray &bytes, QString *error)
{
    QByteArray target = bytesOfPath(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // The link stays; the file it names gets the new content.
        char *resolved = ::realpath(target.constData(), nullptr);
        if (!resolved)
            return fail(error, u"開けません", errno);
        target = resolved;
        std::free(resolved);
    }
    if (::lstat(target.constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail(error, u"開けません", errno);
        bool ownerLost = false;
        return replaceByNewFile(target, bytes, -1, nullptr, false, nullptr, &ownerLost, nullptr,
                                error);
    }
    if (!S_ISREG(st.st_mode))
        return fail(error, u"通常のファイルではありません");
    if (::access(target.constData(), W_OK) != 0)
        return fail(error, u"書き込めません", errno);
    bool ownerLost = false;
    return replaceByNewFile(target, bytes, -1, &st, false, nullptr, &ownerLost, nullptr, error);
}

bool replaceFileContent(const QString &target, const QString &source, QString *error,
                        WriteCheck *check, const WriteJournal *journal)
{
    struct stat sourceStat {};
    QByteArray bytes;
    {
        Fd in(openRegular(bytesOfPath(source), O_RDONLY | O_NOFOLLOW, &sourceStat, error));
        if (in.get() < 0 || !readWhole(in.get(), sourceStat, &bytes, error))
            return false;
    }
    // Opened for writing even when it is replaced by a new file: a file the
    // user made read-only is not replaced.
    const QByteArray to = bytesOfPath(target);
    struct stat st {};
    Fd fd(openRegular(to, O_RDWR | O_NOFOLLOW, &st, error));
    if (fd.get() < 0)
        return false;
    if (check && check->expected && !identityOfStat(st).sameAs(*check->expected))
        return changedMeanwhile(check, error);
    const QByteArray from = bytesOfPath(source);
    if (st.st_nlink > 1)
        return rewriteInPlace(fd.get(), to, st, bytes, from, journal, check, error);
    bool ownerLost = false;
    if (replaceByNewFile(to, bytes, fd.get(), &st, true, journal, &ownerLost, check, error))
        return true;
    // A new file here would belong to us: the user's file is rewritten instead.
    return ownerLost && rewriteInPlace(fd.get(), to, st, bytes, from, journal, check, error);
}

CreateResult createFileVerified(const QString &target, const QString &source,
                                const QString &keepFrom, QString *error,
                                const WriteJournal *journal, FileIdentity *written)
{
    struct stat sourceStat {};
    QByteArray bytes;
    {
        Fd in(openRegular(bytesOfPath(source), O_RDONLY | O_NOFOLLOW, &sourceStat, error));
        if (in.get() < 0 || !readWhole(in.get(), sourceStat, &bytes, error))
            return CreateResult::Failed;
    }
    struct stat original {};
    if (::stat(bytesOfPath(keepFrom).constData(), &original) != 0)
        return fail(error, u"元のファイルの属性を読めません", errno), CreateResult::Failed;

    const QByteArray to = bytesOfPath(target);
    // lstat never follows a link: anything at the name, a dead link too, is taken.
    struct stat there {};
    if (::lstat(to.constData(), &there) == 0)
        return CreateResult::Taken;
    // Written whole under a hidden name, then given its own name only if that
    // is still free: a kill leaves no half copy, only a hidden file the
    // journal names.
    QByteArray hidden;
    JournalRecord record;
    Fd fd(createBeside(to, 0600, &hidden, journal, &record, error));
    if (fd.get() < 0)
        return CreateResult::Failed;
    bool ok = true;
    if (const int err = writeAll(fd.get(), bytes.constData(), size_t(bytes.size())))
        ok = fail(error, u"書き込めません", err);
    if (ok && ::fchmod(fd.get(), original.st_mode & 0777) != 0)
        ok = fail(error, u"属性を引き継げません", errno);
    if (ok) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, original.st_mtim};
        if (::futimens(fd.get(), times) != 0)
            ok = fail(error, u"更新日時を引き継げません", errno);
    }
    ok = ok && confirmWritten(fd.get(), bytes.size(), error);
    Fd kept(ok ? ::dup(fd.get()) : -1); // to learn what the new name holds in the end
    if (ok) {
        if (const int err = fd.close())
            ok = fail(error, u"書き込めません", err);
    }
    CreateResult result = ok ? CreateResult::Created : CreateResult::Failed;
    if (ok && ::link(hidden.constData(), to.constData()) != 0) {
        // Where a folder allows no hard links, a rename that never replaces.
        const int linkError = errno;
        if (linkError == EEXIST || (::renameat2(AT_FDCWD, hidden.constData(), AT_FDCWD,
                                                to.constData(), RENAME_NOREPLACE) != 0 &&
                                    errno == EEXIST))
            result = CreateResult::Taken;
        else if (::lstat(hidden.constData(), &there) == 0) { // neither happened
            fail(error, u"ファイルを作れません", linkError);
            result = CreateResult::Failed;
        }
    }
    fd.reset();
    ::unlink(hidden.constData());
    struct stat after {};
    if (result == CreateResult::Created && written && kept.get() >= 0 &&
        ::fstat(kept.get(), &after) == 0)
        *written = identityOfStat(after);
    if (result == CreateResult::Created)
        syncFolderOf(to);
    return result;
}

} // namespace tinsoke
