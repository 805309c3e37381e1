#include "intake.h"

#include "filelistmodel.h"
#include "paths.h"

#include <QFileInfo>

namespace tinsoke {

bool isListableImage(const QString &path)
{
    const QString ext = fileExtension(path).toLower();
    return ext == u".jpg" || ext == u".jpeg" || ext == u".png";
}

bool hasListableExtension(QStringView path)
{
    // No separator can fall inside these endings, so the name is all that is looked at.
    const auto endsWith = [path](QStringView ending) {
        return path.endsWith(ending, Qt::CaseInsensitive);
    };
    return endsWith(u".jpg") || endsWith(u".png") || endsWith(u".jpeg");
}

void DropFiles(FileListModel &list, const QStringList &dropped)
{
    for (const QString &item : dropped) {
        if (QFileInfo(item).isDir()) {
            QStringList found;
            FindFiles(item, found);
            list.addFiles(found);
        } else if (!isSpecialFile(item)) {
            list.addFiles({item});
        }
    }
}

} // namespace tinsoke
