#include "revert.h"

#include "paths.h"
#include "privatefiles.h"
#include "safewrite.h"
#include "trash.h"

#include <QFileInfo>

namespace tinsoke {

namespace {

RevertOutcome revertOne(FinishedFiles &memory, const UndoRecord &record)
{
    RevertOutcome out{record.path, RevertOutcome::Kind::Reverted, {}};
    QString error;
    const std::optional<TrashEntry> entry = readTrashEntry(record.infoFile, &error);
    if (!entry || OpenedFile::open(entry->filePath(), &error).digest() != record.original) {
        // Restored by hand, emptied or changed there: the way back is gone,
        // and so is the record.
        memory.forgetUndo(record);
        out.kind = RevertOutcome::Kind::TrashGone;
        return out;
    }
    // The content is what decides, read with the file's identity at that
    // moment: a write after the reading moves the identity, and the
    // restore then refuses.
    const OpenedFile file = OpenedFile::open(record.path, &error);
    if (file.digest() != record.written || !file.unchangedOnDisk()) {
        out.kind = RevertOutcome::Kind::ChangedSince;
        return out;
    }
    switch (restoreFromTrash(*entry, record.path, file.identity(), &error)) {
    case RestoreResult::Restored: {
        const StatKey now = StatKey::of(FileIdentity::of(record.path));
        memory.forgetUndo(record, &now);
        out.detail = error; // what may be left in the Trash
        return out;
    }
    case RestoreResult::ChangedMeanwhile:
        out.kind = RevertOutcome::Kind::ChangedSince;
        return out;
    case RestoreResult::Failed:
        break;
    }
    out.kind = RevertOutcome::Kind::Failed;
    out.detail = error;
    return out;
}

} // namespace

std::vector<RevertOutcome> revertOverwrites(FinishedFiles &memory, const QStringList &paths)
{
    QStringList real;
    for (const QString &path : paths) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        real << (canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical);
    }
    const std::vector<UndoRecord> records = memory.undoRecords(real);
    std::vector<RevertOutcome> outcomes;
    for (const UndoRecord &record : records) {
        real.removeAll(record.path);
        outcomes.push_back(revertOne(memory, record));
    }
    for (const QString &path : std::as_const(real))
        outcomes.push_back({path, RevertOutcome::Kind::TrashGone, {}});
    return outcomes;
}

QString revertOutcomeText(const RevertOutcome &outcome)
{
    switch (outcome.kind) {
    case RevertOutcome::Kind::Reverted:
        return outcome.detail.isEmpty()
                   ? QStringLiteral("元に戻しました")
                   : QStringLiteral("元に戻しました（%1）").arg(outcome.detail);
    case RevertOutcome::Kind::ChangedSince:
        return QStringLiteral("実行のあとに変更されているため、戻しませんでした");
    case RevertOutcome::Kind::TrashGone:
        return QStringLiteral("ごみ箱に元の画像がない（取り出されたか変わった）ため、戻せません");
    case RevertOutcome::Kind::Failed:
        break;
    }
    return QStringLiteral("戻せませんでした（%1）").arg(outcome.detail);
}

} // namespace tinsoke
