#include "intake.h"

#include "filelistmodel.h"
#include "paths.h"

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
