#include "intake.h"

#include "filelistmodel.h"
#include "paths.h"

namespace tinsoke {

int DropFiles(FileListModel &list, const QStringList &dropped)
{
    int passedOver = 0;
    for (const QString &item : dropped) {
        const EntryType type = entryType(item);
        if (type == EntryType::Folder) {
            QStringList found;
            passedOver += FindFiles(item, found);
            list.addFiles(found);
        } else if (type != EntryType::Special) {
            list.addFiles({item});
        }
    }
    return passedOver;
}

QString linksPassedOverText(int count)
{
    return QStringLiteral(
               "フォルダの外を指すリンクとフォルダへのリンク %1 件はたどりませんでした。")
        .arg(count);
}

} // namespace tinsoke
