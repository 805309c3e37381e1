#include "rowsave.h"

#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"
#include "safewrite.h"

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

} // namespace

std::optional<RunProblem> saveRowResult(RunShared &shared, const RowTask &task,
                                        const OpenedFile &original, const QString &working,
                                        RowResult &result)
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
        WriteCheck check;
        check.expected = &original.identity();
        if (!replaceFileContent(original.realPath(), working, &error, &check,
                                shared.folder->journal()))
            return saveProblem(check.changedMeanwhile ? RunProblem::Reason::FileChangedDuringRun
                                                      : RunProblem::Reason::WriteFailed,
                               task, error);
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
