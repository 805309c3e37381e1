#include "intake.h"
#include "lvdata.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace tinsoke {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

void walk(const QString &folder, const QByteArray &encoded, std::vector<FolderId> &onTheWay,
          QStringList &paths)
{
    DIR *dir = ::opendir(encoded.constData());
    if (!dir)
        return;
    struct stat self {};
    if (::fstat(::dirfd(dir), &self) != 0) {
        ::closedir(dir);
        return;
    }
    onTheWay.emplace_back(self.st_dev, self.st_ino);

    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    const QByteArray encodedPrefix = encoded.endsWith('/') ? encoded : encoded + '/';
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const QString path = prefix + QFile::decodeName(name);
        const unsigned char type = entry->d_type;
        if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) {
            paths.append(path);
            continue;
        }
        // A folder, or a link or entry that may lead to one.
        const QByteArray encodedPath = encodedPrefix + name;
        struct stat st {};
        if (::stat(encodedPath.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (type != DT_DIR)
                paths.append(path);
            continue;
        }
        const FolderId id(st.st_dev, st.st_ino);
        bool cycle = false;
        for (const FolderId &above : onTheWay)
            cycle = cycle || above == id;
        if (!cycle)
            walk(path, encodedPath, onTheWay, paths);
    }
    onTheWay.pop_back();
    ::closedir(dir);
}

} // namespace

qint64 GetFileSizeBytes(const QString &path)
{
    struct stat st {}; // the entry is looked up; the file is not opened
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return static_cast<qint64>(st.st_size);
}

void FindFiles(const QString &folder, QStringList &paths)
{
    std::vector<FolderId> onTheWay;
    walk(folder, QFile::encodeName(folder), onTheWay, paths);
}

} // namespace tinsoke
