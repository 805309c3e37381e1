#include "intake.h"
#include "lvdata.h"

#include <QDirIterator>
#include <QFileInfo>

namespace tinsoke {

namespace {

// Folders are told apart by their canonical path where no device and inode are at hand.
void walk(const QString &folder, QStringList &onTheWay, QStringList &paths)
{
    const QString self = QFileInfo(folder).canonicalFilePath();
    if (self.isEmpty() || onTheWay.contains(self))
        return;
    onTheWay.append(self);
    const QString prefix =
        folder.endsWith(u'/') || folder.endsWith(u'\\') ? folder : folder + u'\\';
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString path = prefix + it.fileName();
        if (it.fileInfo().isDir())
            walk(path, onTheWay, paths);
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

void FindFiles(const QString &folder, QStringList &paths)
{
    QStringList onTheWay;
    walk(folder, onTheWay, paths);
}

} // namespace tinsoke
