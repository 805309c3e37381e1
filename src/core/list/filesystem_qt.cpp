#include "intake.h"
#include "lvdata.h"

#include <QDirIterator>
#include <QFileInfo>

namespace tinsoke {

namespace {

// Folders are told apart by their canonical path where no device and inode are at hand.
// Linked folders and links that lead out of the dropped folder are left out.
void walk(const QString &folder, const QString &root, QStringList &onTheWay, QStringList &paths,
          int *passedOver)
{
    const QString self = QFileInfo(folder).canonicalFilePath();
    if (self.isEmpty() || onTheWay.contains(self))
        return;
    onTheWay.append(self);
    const QString prefix = folder.endsWith(u'/') || folder.endsWith(u'\\') ? folder : folder + u'/';
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString path = prefix + it.fileName();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() &&
            (info.isDir() || !info.canonicalFilePath().startsWith(root + u'/'))) {
            ++*passedOver;
            continue;
        }
        if (info.isDir())
            walk(path, root, onTheWay, paths, passedOver);
        else
            paths.append(path);
    }
    onTheWay.removeLast();
}

} // namespace

bool isSpecialFile(const QString &)
{
    return false; // no FIFOs or devices among the names a folder holds here
}

qint64 GetFileSizeBytes(const QString &path)
{
    const QFileInfo entry(path); // the entry is looked up; the file is not opened
    return entry.exists() && !entry.isDir() ? entry.size() : 0;
}

int FindFiles(const QString &folder, QStringList &paths)
{
    QStringList onTheWay;
    int passedOver = 0;
    walk(folder, QFileInfo(folder).canonicalFilePath(), onTheWay, paths, &passedOver);
    return passedOver;
}

EntryType entryType(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return info.isSymLink() ? EntryType::File : EntryType::Missing;
    return info.isDir() ? EntryType::Folder : EntryType::File;
}

} // namespace tinsoke
