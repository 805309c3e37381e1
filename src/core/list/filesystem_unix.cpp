#include "intake.h"
#include "lvdata.h"
#include "paths.h"

#include <QFile>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tinsoke {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

// Whether the real path lies inside the real folder root.
bool inside(const QByteArray &real, const QByteArray &root)
{
    return root == "/" || real.startsWith(root + '/');
}

// Walks the open folder dirFd (and closes it). Sub-folders are opened relative
// to their parent, and a folder is known by the device and inode of its open
// descriptor: one that is already on the way down is not entered again.
// Links to folders are never followed, and a link to a file is listed only
// when the file lies inside root, the real path of the folder the walk began
// in; *passedOver counts the links left out.
void walk(int dirFd, const QString &folder, const QByteArray &root, std::vector<FolderId> &onTheWay,
          QStringList &paths, int *passedOver)
{
    struct stat self {};
    if (::fstat(dirFd, &self) != 0) {
        ::close(dirFd);
        return;
    }
    const FolderId id(self.st_dev, self.st_ino);
    for (const FolderId &above : onTheWay) {
        if (above == id) {
            ::close(dirFd);
            return;
        }
    }
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    onTheWay.push_back(id);

    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const QString path = prefix + pathFromBytes(QByteArray(name));
        unsigned char type = entry->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISLNK(st.st_mode)   ? DT_LNK
                   : S_ISDIR(st.st_mode) ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                                         : DT_FIFO;
        }
        if (type == DT_LNK) {
            // Only what the user dropped is walked: a link leading elsewhere,
            // or to a folder, is left out.
            if (::fstatat(::dirfd(dir), name, &st, 0) != 0 || S_ISDIR(st.st_mode)) {
                ++*passedOver;
                continue;
            }
            if (!S_ISREG(st.st_mode))
                continue; // FIFOs, sockets and devices are no pictures
            char *real = ::realpath(bytesOfPath(path).constData(), nullptr);
            const bool within = real && inside(QByteArray(real), root);
            std::free(real);
            if (!within) {
                ++*passedOver;
                continue;
            }
            type = DT_REG;
        }
        if (type == DT_REG) {
            paths.append(path);
        } else if (type == DT_DIR) {
            const int sub =
                ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                walk(sub, path, root, onTheWay, paths, passedOver);
        }
        // FIFOs, sockets and devices are no pictures: opening one could wait for ever.
    }
    onTheWay.pop_back();
    ::closedir(dir);
}

} // namespace

bool isSpecialFile(const QString &path)
{
    struct stat st {};
    return ::stat(bytesOfPath(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

qint64 GetFileSizeBytes(const QString &path)
{
    struct stat st {}; // the entry is looked up; the file is not opened
    if (::stat(bytesOfPath(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return static_cast<qint64>(st.st_size);
}

int FindFiles(const QString &folder, QStringList &paths)
{
    const QByteArray name = bytesOfPath(folder);
    char *real = ::realpath(name.constData(), nullptr);
    if (!real)
        return 0; // a folder that cannot be read adds nothing
    const QByteArray root(real);
    std::free(real);
    const int dirFd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    std::vector<FolderId> onTheWay;
    int passedOver = 0;
    walk(dirFd, folder, root, onTheWay, paths, &passedOver);
    return passedOver;
}

EntryType entryType(const QString &path)
{
    struct stat st {};
    const QByteArray name = bytesOfPath(path);
    if (::stat(name.constData(), &st) != 0)
        return ::lstat(name.constData(), &st) == 0 ? EntryType::File : EntryType::Missing;
    return S_ISDIR(st.st_mode)   ? EntryType::Folder
           : S_ISREG(st.st_mode) ? EntryType::File
                                 : EntryType::Special;
}

} // namespace tinsoke
