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
// FileListModel::addFiles applies the same test to the lower-cased path.

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
