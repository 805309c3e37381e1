#include "rowsave.h"

#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"
#include "safewrite.h"
#include "trash.h"

#include <QDateTime>

namespace tinsoke {

namespace {

RunProblem saveProblem(RunProblem::Reason reason, const RowTask &task,
                       const QString &detail = QString())
{
    RunProblem p;
    p.reason = reason;
    p.path = task.path;
    p.detail = detail;
    return p;
}

// A new file at target, or with another "_" before the extension while
// the name is taken.
bool createBeside(RunShared &shared, QString target, const OpenedFile &original,
                  const QString &working, RowResult &result, QString *error)
{
    for (;;) {
        switch (createFileVerified(target, working, original.realPath(), error,
                                   shared.folder->journal(), &result.written)) {
        case CreateResult::Created:
            result.savedAs = target;
            return true;
        case CreateResult::Taken:
            target = withUnderscoreBeforeExtension(target);
            break;
        case CreateResult::Failed:
            return false;
        }
    }
}

// The way back from an overwrite, kept in the memory when there is one: the
// Trash's copy and what the overwrite wrote.
void rememberUndo(RunShared &shared, const QString &path, const TrashEntry &trashed,
                  const QByteArray &originalDigest, const QByteArray &written)
{
    if (written.isEmpty())
        return;
    if (const qint64 run = shared.undoRun())
        shared.memory->rememberUndo(
            {run, path, trashed.filePath(), trashed.infoPath(), written, originalDigest});
}

} // namespace

std::optional<RunProblem> saveRowResult(RunShared &shared, const RowTask &task,
                                        const OpenedFile &original,
                                        const QByteArray &originalDigest, const QString &working,
                                        const QByteArray &resultDigest, RowResult &result)
{
    // Another program wrote the file meanwhile: theirs wins, and nothing
    // made from what it held before is saved, in its place or beside it.
    if (!original.unchangedOnDisk())
        return saveProblem(RunProblem::Reason::FileChangedDuringRun, task);
    QString error;
    const qint64 size = FileIdentity::of(working).size;
    switch (shared.plan.saveMethod) {
    case SaveMethod::InPlace: {
        if (size >= result.before) {
            result.after = result.before; // nothing better: the file stays as it is
            result.savedAs = task.path;
            return std::nullopt;
        }
        // The original goes into the Trash, whole and verified, before a byte
        // of it is replaced; a Trash that cannot take it leaves the file as it is.
        std::optional<TrashEntry> trashed;
        if (shared.plan.originals == Originals::Trash) {
            trashed =
                putCopyInTrash(original.realPath(), original.realPath(),
                               QDateTime::currentDateTime(), &error, shared.folder->journal());
            if (!trashed)
                return saveProblem(RunProblem::Reason::TrashFailed, task, error);
        }
        WriteCheck check;
        check.expected = &original.identity();
        if (!replaceFileContent(original.realPath(), working, &error, &check,
                                shared.folder->journal())) {
            if (trashed)
                removeTrashEntry(*trashed); // the original is still where it was
            return saveProblem(check.changedMeanwhile ? RunProblem::Reason::FileChangedDuringRun
                                                      : RunProblem::Reason::WriteFailed,
                               task, error);
        }
        if (trashed)
            rememberUndo(shared, original.realPath(), *trashed, originalDigest, resultDigest);
        result.written = check.written;
        result.savedAs = task.path;
        break;
    }
    case SaveMethod::CopyBeside:
        if (!createBeside(shared, withUnderscoreBeforeExtension(task.path), original, working,
                          result, &error))
            return saveProblem(RunProblem::Reason::CopyFailed, task, error);
        break;
    case SaveMethod::ResultFolder: {
        QString tried;
        const QString folder = shared.resultFolder->get(&tried);
        if (folder.isEmpty())
            return saveProblem(RunProblem::Reason::ResultFolderFailed, task, tried);
        if (!createBeside(shared, folder + u'/' + fileNameOf(task.path), original, working, result,
                          &error))
            return saveProblem(RunProblem::Reason::CopyFailed, task, error);
        break;
    }
    case SaveMethod::None:
        return saveProblem(RunProblem::Reason::NoSaveMethod, task);
    }
    result.after = size;
    return std::nullopt;
}

} // namespace tinsoke
