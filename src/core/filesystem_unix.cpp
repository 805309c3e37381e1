#include "intake.h"
#include "lvdata.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tinsoke {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

// Walks the open folder dirFd (and closes it). Sub-folders are opened relative
// to their parent, and a folder is known by the device and inode of its open
// descriptor: one that is already on the way down is not entered again.
void walk(int dirFd, const QString &folder, std::vector<FolderId> &onTheWay, QStringList &paths)
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
        const QString path = prefix + QFile::decodeName(name);
        unsigned char type = entry->d_type;
        if (type == DT_LNK || type == DT_UNKNOWN) {
            // Links are followed: what they lead to decides.
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, 0) != 0)
                type = DT_REG; // a dead link: listed, and told as missing when its turn comes
            else
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
        }
        if (type == DT_REG) {
            paths.append(path);
        } else if (type == DT_DIR) {
            const int sub = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (sub >= 0)
                walk(sub, path, onTheWay, paths);
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
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

qint64 GetFileSizeBytes(const QString &path)
{
    struct stat st {}; // the entry is looked up; the file is not opened
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return static_cast<qint64>(st.st_size);
}

void FindFiles(const QString &folder, QStringList &paths)
{
    const int dirFd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return; // a folder that cannot be read adds nothing
    std::vector<FolderId> onTheWay;
    walk(dirFd, folder, onTheWay, paths);
}

} // namespace tinsoke
