#include "trash.h"

#include "paths.h"
#include "posixfile.h"
#include "safewrite.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>

// The Trash through POSIX calls: folders are checked with lstat, so a link
// planted where a Trash folder belongs is never followed, and the info file
// is created exclusively, which is what keeps two programs from taking the
// same name.

namespace tinsoke {

namespace {

const QByteArray InfoSuffix = QByteArrayLiteral(".trashinfo");

QByteArray uidText()
{
    return QByteArray::number(qulonglong(::getuid()));
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArrayLiteral("/") : path.left(slash);
}

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

enum class Folder { Ours, Missing, Unusable };

// A Trash folder is used only when it is a real folder (no link) of ours.
Folder checkFolder(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? Folder::Missing : Folder::Unusable;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() ? Folder::Ours : Folder::Unusable;
}

// Makes the folder (0700) when it is missing; true when it is then ours.
bool makeFolder(const QByteArray &path, QString *error)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return fail(error, u"ごみ箱のフォルダーを作れません", errno);
    if (checkFolder(path) != Folder::Ours)
        return setError(error,
                        QStringLiteral("ごみ箱のフォルダー %1 がリンクかほかのユーザーのものです")
                            .arg(pathFromBytes(path)));
    return true;
}

// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
QByteArray dataHome()
{
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (xdg.startsWith('/'))
        return xdg;
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) {
        if (const passwd *pw = ::getpwuid(::getuid()))
            home = pw->pw_dir;
    }
    return home + "/.local/share";
}

// The device of path, or of its nearest folder that exists: where the home
// Trash would be made.
bool deviceOfWouldBe(QByteArray path, dev_t *device)
{
    struct stat st {};
    while (::stat(path.constData(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        if (path == "/")
            return false;
        path = parentOf(path);
    }
    *device = st.st_dev;
    return true;
}

// The top folder of the file system holding folder (already resolved).
QByteArray topFolderOf(QByteArray folder, dev_t device)
{
    while (folder != "/") {
        const QByteArray parent = parentOf(folder);
        struct stat st {};
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = parent;
    }
    return folder;
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// The Trash folder in the top folder, per the two places and their checks.
std::optional<QByteArray> topTrash(const QByteArray &top, bool create, bool *exists, QString *error)
{
    const QByteArray shared = joined(top, ".Trash");
    struct stat st {};
    // An administrator's shared Trash counts only as a real folder with the
    // sticky bit, which keeps users from removing each other's folders there.
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QByteArray mine = shared + '/' + uidText();
        const Folder state = checkFolder(mine);
        if (state == Folder::Ours)
            return *exists = true, mine;
        if (state == Folder::Missing && !create)
            return *exists = false, mine;
        if (state == Folder::Missing && makeFolder(mine, nullptr))
            return *exists = true, mine;
    }
    const QByteArray own = joined(top, ".Trash-" + uidText());
    switch (checkFolder(own)) {
    case Folder::Ours:
        return *exists = true, own;
    case Folder::Missing:
        if (!create)
            return *exists = false, own;
        if (makeFolder(own, error))
            return *exists = true, own;
        return std::nullopt;
    case Folder::Unusable:
        break;
    }
    setError(error, QStringLiteral("ごみ箱のフォルダー %1 がリンクかほかのユーザーのものです")
                        .arg(pathFromBytes(own)));
    return std::nullopt;
}

// Makes the home Trash's missing folders, from the first that is missing.
bool makeFolders(const QByteArray &path, QString *error)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) || fail(error, u"ごみ箱のフォルダーがフォルダーではありません");
    if (errno != ENOENT)
        return fail(error, u"ごみ箱のフォルダーを開けません", errno);
    if (!makeFolders(parentOf(path), error))
        return false;
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return fail(error, u"ごみ箱のフォルダーを作れません", errno);
    return true;
}

// The name for the n-th try: "name.ext", then "name 2.ext", "name 3.ext", …
// cut (never inside a character) so that NAME.trashinfo fits a file name.
QByteArray candidateName(const QByteArray &name, int n)
{
    const qsizetype dot = name.lastIndexOf('.');
    QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    QByteArray stem = name.left(name.size() - ext.size());
    const QByteArray number = n > 1 ? ' ' + QByteArray::number(n) : QByteArray();
    const qsizetype room = NAME_MAX - InfoSuffix.size() - number.size();
    if (ext.size() >= room)
        stem = name, ext.clear();
    if (stem.size() + ext.size() > room) {
        qsizetype cut = room - ext.size();
        while (cut > 0 && (uchar(stem.at(cut)) & 0xC0) == 0x80)
            --cut;
        stem.truncate(cut);
    }
    return stem + number + ext;
}

// Creates the info file exclusively; EEXIST means the name is taken.
int createInfo(const QByteArray &path, const QByteArray &text)
{
    Fd fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return errno;
    int err = writeAll(fd.get(), text.constData(), size_t(text.size()));
    if (!err)
        err = syncFd(fd.get());
    if (!err)
        err = fd.close();
    if (err)
        ::unlink(path.constData());
    return err;
}

} // namespace

std::optional<TrashFolder> trashFolderFor(const QString &originalPath, bool create, QString *error)
{
    const QByteArray original = bytesOfPath(originalPath);
    struct stat st {};
    if (!original.startsWith('/') || ::stat(original.constData(), &st) != 0) {
        fail(error, u"元のファイルを開けません", original.startsWith('/') ? errno : ENOENT);
        return std::nullopt;
    }
    TrashFolder folder;
    const QByteArray home = dataHome() + "/Trash";
    dev_t homeDevice = 0;
    bool exists = false;
    if (deviceOfWouldBe(home, &homeDevice) && homeDevice == st.st_dev) {
        if (create && !makeFolders(home, error))
            return std::nullopt;
        folder.path = pathFromBytes(home);
        struct stat t {};
        exists = ::stat(home.constData(), &t) == 0 && S_ISDIR(t.st_mode);
    } else {
        char *resolved = ::realpath(parentOf(original).constData(), nullptr);
        if (!resolved) {
            fail(error, u"元のファイルのフォルダーを開けません", errno);
            return std::nullopt;
        }
        const QByteArray top = topFolderOf(QByteArray(resolved), st.st_dev);
        std::free(resolved);
        const auto path = topTrash(top, create, &exists, error);
        if (!path)
            return std::nullopt;
        folder.path = pathFromBytes(*path);
        folder.topDir = pathFromBytes(top);
    }
    // files/ and info/ are made with the folder; a link there is not followed.
    const QByteArray base = bytesOfPath(folder.path);
    for (const char *part : {"/files", "/info"}) {
        const QByteArray sub = base + part;
        const Folder state = checkFolder(sub);
        if (state == Folder::Unusable ||
            (state == Folder::Missing && create && !makeFolder(sub, error))) {
            if (state == Folder::Unusable)
                setError(error,
                         QStringLiteral("ごみ箱のフォルダー %1 がリンクかほかのユーザーのものです")
                             .arg(pathFromBytes(sub)));
            return std::nullopt;
        }
        exists = exists && checkFolder(sub) == Folder::Ours;
    }
    folder.exists = exists;
    return folder;
}

std::optional<TrashEntry> putCopyInTrash(const QString &originalPath, const QString &sourceOfBytes,
                                         const QDateTime &deletedAt, QString *error,
                                         const WriteJournal *journal)
{
    const auto folder = trashFolderFor(originalPath, true, error);
    if (!folder)
        return std::nullopt;
    // The recorded path: absolute for the home Trash, from the top folder
    // for the others, so the entry stays right wherever the disk is mounted.
    const QByteArray original = bytesOfPath(originalPath);
    QByteArray recorded = original;
    if (!folder->topDir.isEmpty()) {
        char *resolved = ::realpath(parentOf(original).constData(), nullptr);
        if (!resolved) {
            fail(error, u"元のファイルのフォルダーを開けません", errno);
            return std::nullopt;
        }
        const QByteArray top = bytesOfPath(folder->topDir);
        recorded = joined(QByteArray(resolved), original.mid(original.lastIndexOf('/') + 1))
                       .mid(top == "/" ? 1 : top.size() + 1);
        std::free(resolved);
    }
    TrashEntry entry;
    entry.folder = folder->path;
    entry.originalPath = originalPath;
    entry.deletedAt = QDateTime::fromSecsSinceEpoch(deletedAt.toSecsSinceEpoch());
    const QByteArray text = trashInfoText(recorded, entry.deletedAt);
    const QByteArray base = bytesOfPath(folder->path);
    const QByteArray name = original.mid(original.lastIndexOf('/') + 1);
    for (int n = 1; n <= 10000; ++n) {
        const QByteArray candidate = candidateName(name, n);
        const QByteArray info = base + "/info/" + candidate + InfoSuffix;
        const int err = createInfo(info, text);
        if (err == EEXIST)
            continue;
        if (err) {
            fail(error, u"ごみ箱に記録を書けません", err);
            return std::nullopt;
        }
        syncFolder(base + "/info");
        entry.name = pathFromBytes(candidate);
        QString why;
        const CreateResult made =
            createFileVerified(entry.filePath(), sourceOfBytes, originalPath, &why, journal);
        if (made == CreateResult::Created)
            return entry;
        // A copy left without its info file holds the name: the next one is tried.
        ::unlink(info.constData());
        syncFolder(base + "/info");
        if (made == CreateResult::Failed) {
            setError(error, QStringLiteral("ごみ箱に入れられません: %1").arg(why));
            return std::nullopt;
        }
    }
    fail(error, u"ごみ箱に空いた名前がありません");
    return std::nullopt;
}

bool removeTrashEntry(const TrashEntry &entry, QString *error)
{
    // The copy goes first: an info file without its copy is an entry a file
    // manager shows as gone, while a copy without one would be lost space.
    const QByteArray file = bytesOfPath(entry.filePath());
    const QByteArray info = bytesOfPath(entry.infoPath());
    if (::unlink(file.constData()) != 0 && errno != ENOENT)
        return fail(error, u"ごみ箱から消せません", errno);
    syncFolder(parentOf(file));
    if (::unlink(info.constData()) != 0 && errno != ENOENT)
        return fail(error, u"ごみ箱の記録を消せません", errno);
    syncFolder(parentOf(info));
    return true;
}

RestoreResult restoreFromTrash(const TrashEntry &entry, const QString &target,
                               const FileIdentity &expected, QString *error)
{
    WriteCheck check;
    check.expected = &expected;
    if (!replaceFileContent(target, entry.filePath(), error, &check))
        return check.changedMeanwhile ? RestoreResult::ChangedMeanwhile : RestoreResult::Failed;
    removeTrashEntry(entry, error);
    return RestoreResult::Restored;
}

} // namespace tinsoke
