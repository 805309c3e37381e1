#include "trash.h"

// Windows keeps its Recycle Bin behind the shell's own calls, which the core
// does not use: every put is refused with a reason, so a run keeps the file.

namespace tinsoke {

namespace {

const QString NotHere = QStringLiteral("この環境ではごみ箱を使えません");

template <typename T> T notAvailable(QString *error, T result)
{
    if (error)
        *error = NotHere;
    return result;
}

} // namespace

std::optional<TrashFolder> trashFolderFor(const QString &, bool, QString *error)
{
    return notAvailable<std::optional<TrashFolder>>(error, std::nullopt);
}

std::optional<TrashEntry> putCopyInTrash(const QString &, const QString &, const QDateTime &,
                                         QString *error, const WriteJournal *)
{
    return notAvailable<std::optional<TrashEntry>>(error, std::nullopt);
}

bool removeTrashEntry(const TrashEntry &, QString *error)
{
    return notAvailable(error, false);
}

RestoreResult restoreFromTrash(const TrashEntry &, const QString &, const FileIdentity &,
                               QString *error)
{
    return notAvailable(error, RestoreResult::Failed);
}

} // namespace tinsoke
