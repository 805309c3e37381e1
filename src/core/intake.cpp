#include "intake.h"

#include "filelistmodel.h"
#include "paths.h"

#include <QFileInfo>

namespace tinsoke {

bool isListableImage(const QString &path)
{
    const QString ext = fileExtension(path).toLower();
    return ext == u".jpg" || ext == u".png";
}

bool hasListableExtension(QStringView path)
{
    if (path.size() < 4 || path.at(path.size() - 4) != u'.')
        return false;
    QChar ext[3];
    for (int i = 0; i < 3; ++i)
        ext[i] = path.at(path.size() - 3 + i).toLower();
    return (ext[0] == u'j' && ext[1] == u'p' && ext[2] == u'g') ||
           (ext[0] == u'p' && ext[1] == u'n' && ext[2] == u'g');
}

void DropFiles(FileListModel &list, const QStringList &dropped)
{
    for (const QString &item : dropped) {
        if (QFileInfo(item).isDir()) {
            QStringList found;
            FindFiles(item, found);
            list.addFiles(found);
        } else {
            list.addFiles({item});
        }
    }
}

} // namespace tinsoke
