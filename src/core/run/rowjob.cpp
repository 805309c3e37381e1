#include "rowjob.h"

#include "fileops.h"
#include "paths.h"
#include "pictureparts.h"
#include "resultcheck.h"
#include "rowmemory.h"
#include "rowsave.h"
#include "safewrite.h"
#include "toolstep.h"

#include <QCryptographicHash>
#include <QScopeGuard>

#include <utility>

namespace tinsoke {

namespace {

// A row keeps the order of things: the memory first, then its turn and the
// lock of its file, the private copy and the picture's facts, the chain's
// steps, the last check, the save, and what the memory learns.
class RowJob {
public:
    RowJob(RunShared &shared, const RowTask &task)
        : m_shared(shared)
        , m_task(task)
        , m_memory(shared, m_task)
    {
        m_result.row = task.row;
        m_result.path = task.path;
    }

    RowResult run()
    {
        const auto saved = qScopeGuard([this] { m_shared.saveOrder.done(m_task.row); });
        if (m_memory.knownFinished(&m_result.before)) {
            m_result.outcome = RowResult::Outcome::Remembered;
            m_result.after = m_result.before;
            m_result.savedAs = m_task.path;
            return m_result;
        }
        // Waited for before any file is locked: a row holding a lock never
        // waits for another row, so no two rows can wait for each other.
        if (!m_shared.saveOrder.waitTurn(m_task.row, m_shared.running)) {
            m_result.outcome = RowResult::Outcome::Stopped;
            return m_result;
        }
        if (!m_shared.folder) {
            passOver(about(RunProblem::Reason::WorkFolderFailed, m_shared.folderError));
            return m_result;
        }
        for (int attempt = 0;; ++attempt) {
            // The file as it is now: a regular file that can be read, opened
            // without waiting, whatever now stands at its name.
            QString error;
            OpenedFile original = OpenedFile::open(m_task.path, &error);
            if (!original.isOpen()) {
                passOver(about(RunProblem::Reason::NotOpened, error));
                return m_result;
            }
            if (!m_shared.locks.acquire(original.identity(), m_shared.running)) {
                m_result.outcome = RowResult::Outcome::Stopped;
                return m_result;
            }
            // Another name of the same file may have been processed while this
            // row waited for it: look again at what it is now.
            if (!original.unchangedOnDisk() && attempt < 3) {
                m_shared.locks.release(original.identity());
                continue;
            }
            m_result.before = original.identity().size;
            processLocked(original);
            m_shared.locks.release(original.identity());
            return m_result;
        }
    }

private:
    // A problem of this row's file; the window and the command line word it.
    RunProblem about(RunProblem::Reason reason, const QString &detail = QString(),
                     const QString &tool = QString()) const
    {
        RunProblem p;
        p.reason = reason;
        p.path = m_task.path;
        p.detail = detail;
        p.tool = tool;
        return p;
    }

    void passOver(RunProblem p)
    {
        m_result.outcome = RowResult::Outcome::PassedOver;
        m_result.steps.clear();
        m_result.kept.clear();
        p.kind = RunProblem::Kind::PassedOver;
        m_result.problems.append(std::move(p));
    }

    void processLocked(OpenedFile &original)
    {
        QString error;
        const auto rowFolder = m_shared.folder->makeRowFolder(m_task.row, &error);
        if (rowFolder.isEmpty()) {
            passOver(about(RunProblem::Reason::WorkFolderFailed, error));
            return;
        }
        m_folder = rowFolder;
        // A name of our own: the user's may be no valid text for a tool.
        m_working = rowFolder + QStringLiteral("/image") + fileExtension(m_task.path).toLower();
        if (!original.copyTo(m_working, &error)) {
            passOver(about(RunProblem::Reason::CopyFailed, error));
            removeFolder();
            return;
        }
        std::optional<Gate> gate;
        if (const auto kind = chainFor(m_task.path, m_task.fileName)) {
            // Before any tool: the original must be a whole picture that decodes.
            QByteArray bytes;
            readRegularFile(m_working, &bytes);
            m_originalDigest = QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
            const PictureFacts facts = m_shared.readFacts(m_working, *kind);
            if (!facts.readable) {
                passOver(about(RunProblem::Reason::NotAPicture, facts.why));
                removeFolder();
                return;
            }
            gate.emplace(m_shared.readFacts, m_shared.checkChange, *kind, facts,
                         pictureParts(bytes, *kind));
            bytes.clear();
            runChain(*kind, *gate);
        }

        // What the last check verifies the working file by, from then on.
        const QByteArray resultDigest = gate ? gate->acceptedDigest() : QByteArray();
        if (m_shared.running.stopped())
            m_result.outcome = RowResult::Outcome::Stopped;
        else if (gate && !gate->finalBytesAreChecked(m_working, m_originalDigest))
            passOver(about(RunProblem::Reason::LastCheckFailed));
        else if (auto p = saveRowResult(m_shared, m_task, original, m_originalDigest, m_working,
                                        resultDigest, m_result))
            passOver(std::move(*p));
        if (m_shared.memory)
            m_memory.rememberFinished(original, m_result, resultDigest, m_originalDigest);
        removeFolder();
    }

    void runChain(ImageKind kind, Gate &gate)
    {
        const StepPlace place{m_folder, m_working, m_task.path};
        int number = 0;
        for (const ChainStep &step : chainSteps(m_shared.plan, kind)) {
            if (m_shared.running.stopped())
                return;
            StepResult done = runToolStep(m_shared, step, ++number, place, gate);
            m_result.steps.append({step.listColumn, done.size});
            if (done.kept)
                m_result.kept.append(step.name);
            if (done.problem)
                m_result.problems.append(std::move(*done.problem));
        }
    }

    // What stays (a tool's part nobody can remove) goes with the run's folder, or is told then.
    void removeFolder()
    {
        if (!m_folder.isEmpty())
            removePrivateFolder(m_folder);
    }

    RunShared &m_shared;
    const RowTask m_task;
    RowMemory m_memory;
    RowResult m_result;
    QString m_folder;
    QString m_working;
    QByteArray m_originalDigest;
};

} // namespace

RowResult runRow(RunShared &shared, const RowTask &task)
{
    return RowJob(shared, task).run();
}

} // namespace tinsoke
