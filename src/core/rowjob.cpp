#include "rowjob.h"

#include "commandline.h"
#include "fileops.h"
#include "paths.h"
#include "pictureparts.h"
#include "resultcheck.h"
#include "safewrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>

#include <utility>

namespace tinsoke {

namespace {

QString toolName(Tool tool)
{
    return QString::fromUtf16(toolInfo(tool).name);
}

// What a tool printed, as the user can use it: the private copies it was
// given, gone by the time anyone reads this, are named by the user's file.
QString outputText(const ToolOutcome &outcome, const QStringList &privatePaths,
                   const QString &rowFolder, const QString &userPath)
{
    QString text = QString::fromLocal8Bit(outcome.output);
    for (const QString &path : privatePaths)
        if (!path.isEmpty())
            text.replace(path, userPath);
    text.replace(QRegularExpression(QRegularExpression::escape(rowFolder) + QStringLiteral("\\S*")),
                 userPath);
    if (outcome.outputCut)
        text += QStringLiteral("\n…");
    return text;
}

class RowJob {
public:
    RowJob(RunEngine::Shared &shared, const RowTask &task)
        : m_shared(shared)
        , m_task(task)
    {
        m_result.row = task.row;
        m_result.path = task.path;
    }

    RowResult run()
    {
        const auto saved = qScopeGuard([this] { m_shared.saveOrder.done(m_task.row); });
        if (knownFinished()) {
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
    static StatKey statKey(const FileIdentity &id)
    {
        return {id.device, id.inode, id.size, id.modifiedNs, id.changedNs};
    }

    // Whether the memory knows the file as it is now finished for its chain:
    // by its directory entry alone, else by its content.
    bool knownFinished()
    {
        const auto kind = chainFor(m_task.path, m_task.fileName);
        if (!m_shared.memory || !kind)
            return false;
        m_chain = m_shared.chains.at(static_cast<std::size_t>(*kind));
        if (m_chain.isEmpty() || m_shared.forgetMemory)
            return false;
        QString error;
        const OpenedFile file = OpenedFile::open(m_task.path, &error);
        if (!file.isOpen())
            return false; // the row tells why, as it always has
        const StatKey key = statKey(file.identity());
        m_result.before = key.size;
        const QByteArray copied = copiedChain();
        if (m_shared.memory->knownByStat(key, m_chain) ||
            (!copied.isEmpty() && m_shared.memory->knownByStat(key, copied)))
            return true;
        const QByteArray digest = file.digest();
        if (digest.isEmpty() || !file.unchangedOnDisk())
            return false;
        for (const QByteArray &chain : {m_chain, copied}) {
            if (!chain.isEmpty() && m_shared.memory->knownByDigest(digest, chain)) {
                m_shared.memory->remember(digest, chain, {key});
                return true;
            }
        }
        return false;
    }

    // An original whose smaller copy this chain saved beside it, or in a
    // result folder, is done for that save method: another run (a watch that
    // starts again) would only add one more copy.
    QByteArray copiedChain() const
    {
        switch (m_shared.plan.saveMethod) {
        case SaveMethod::CopyBeside:
            return m_chain + QByteArrayLiteral("\ncopied beside");
        case SaveMethod::ResultFolder:
            return m_chain + QByteArrayLiteral("\ncopied to a result folder");
        default:
            return QByteArray();
        }
    }

    // A row that went through its whole chain without a fault: its result
    // (or the unchanged file) is what the chain cannot make smaller.
    // Only what the row itself read or wrote is remembered, and only while
    // it is still so: a file another program changed meanwhile is not.
    void rememberFinished(const OpenedFile &original)
    {
        if (m_chain.isEmpty() || m_result.outcome != RowResult::Outcome::Done ||
            !m_result.problems.isEmpty())
            return;
        const bool originalStays = original.unchangedOnDisk();
        if (m_result.kept.isEmpty() && !originalStays)
            return;
        QByteArray digest = m_originalDigest;
        if (!m_result.kept.isEmpty()) {
            QByteArray bytes;
            if (!readRegularFile(m_working, &bytes))
                return;
            digest = QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
        }
        std::vector<StatKey> entries;
        const QString saved = m_shared.plan.saveMethod == SaveMethod::InPlace ? original.realPath()
                                                                              : m_result.savedAs;
        if (m_result.written.exists && FileIdentity::of(saved).sameAs(m_result.written))
            entries.push_back(statKey(m_result.written));
        if (m_result.kept.isEmpty())
            entries.push_back(statKey(original.identity()));
        m_shared.memory->remember(digest, m_chain, entries);
        const QByteArray copied = copiedChain();
        if (!m_result.kept.isEmpty() && !copied.isEmpty() && originalStays)
            m_shared.memory->remember(m_originalDigest, copied, {statKey(original.identity())});
    }

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
        m_result.columns = {};
        m_result.extraColumns.clear();
        m_result.kept.clear();
        p.kind = RunProblem::Kind::PassedOver;
        m_result.problems.append(std::move(p));
    }

    void problem(RunProblem p, RunProblem::Kind kind = RunProblem::Kind::ToolFailed)
    {
        p.kind = kind;
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

        if (m_shared.running.stopped())
            m_result.outcome = RowResult::Outcome::Stopped;
        else if (gate && !gate->finalBytesAreChecked(m_working, m_originalDigest))
            passOver(about(RunProblem::Reason::LastCheckFailed));
        else
            save(original);
        if (m_shared.memory)
            rememberFinished(original);
        removeFolder();
    }

    // One step as the row runs it: a built-in tool or one of the user's.
    struct Step {
        QString name;
        const ToolPlan &plan;
        Output output;
        QStringList (*arguments)(const QStringList &words, const QString &input,
                                 const QString &output);
        int alsoFine; // an exit code besides 0 that still means success, or 0
        std::optional<qint64> &column;
    };

    void runChain(ImageKind kind, Gate &gate)
    {
        int step = 0;
        for (const Tool tool : AllTools) {
            const ToolInfo &info = toolInfo(tool);
            const ToolPlan &plan = m_shared.plan.tools.at(static_cast<std::size_t>(tool));
            if (info.kind != kind || !plan.use)
                continue;
            if (m_shared.running.stopped())
                return;
            runStep({toolName(tool), plan, info.output, info.arguments, info.alsoFine,
                     m_result.columns.at(static_cast<std::size_t>(tool))},
                    gate, ++step);
        }
        const QList<ExtraToolPlan> &extras = m_shared.plan.extras;
        m_result.extraColumns.resize(extras.size());
        for (qsizetype i = 0; i < extras.size(); ++i) {
            const ExtraToolPlan &extra = extras.at(i);
            if (extra.kind != kind || !extra.plan.use)
                continue;
            if (m_shared.running.stopped())
                return;
            runStep({extra.name, extra.plan,
                     writesSecondFile(extra.plan.words) ? Output::TemporaryFile : Output::InPlace,
                     extraToolArguments, 0, m_result.extraColumns[i]},
                    gate, ++step);
        }
    }

    void runStep(const Step &tool, Gate &gate, int step)
    {
        const ToolPlan &plan = tool.plan;
        const qint64 sizeBefore = FileIdentity::of(m_working).size;
        // Every tool reads a private copy of its own: one that damages the file
        // it reads costs only its own step.
        const QString stepFolder = m_folder + QStringLiteral("/step%1").arg(step);
        const QString input = stepFolder + u'/' + fileNameOf(m_working);
        QString error;
        if (!QDir().mkdir(stepFolder) || !copyPrivateFile(m_working, input, &error)) {
            problem(about(RunProblem::Reason::StepCopyFailed, error.isEmpty() ? stepFolder : error,
                          tool.name));
            return;
        }
        QString output;
        switch (tool.output) {
        case Output::InPlace:
            output = input;
            break;
        case Output::BesideWithJpg:
            output = input + QStringLiteral(".jpg");
            break;
        case Output::TemporaryFile:
            // With the picture's own extension: some tools go by it.
            output = m_folder + QStringLiteral("/step%1-out").arg(step) +
                     fileExtension(m_working).toLower();
            break;
        }

        const ToolOutcome outcome = runToolProcess(
            plan.program, tool.arguments(plan.words, input, output), m_folder, m_shared.running);
        if (outcome.stopped)
            return;
        if (!outcome.started()) {
            RunProblem p = about(RunProblem::Reason::ToolNotStarted, QString(), tool.name);
            p.systemError = outcome.startError;
            problem(std::move(p), RunProblem::Kind::NotStarted);
            return; // its column stays empty: it did not run
        }
        tool.column = sizeBefore;
        const auto printed = [&] {
            return outputText(outcome, {output, input, m_working}, m_folder, m_task.path);
        };
        if (!outcome.exited) {
            RunProblem p = about(RunProblem::Reason::ToolCrashed, QString(), tool.name);
            p.signal = outcome.signal;
            p.output = printed();
            problem(std::move(p));
            return;
        }
        if (outcome.exitCode != 0 && outcome.exitCode != tool.alsoFine) {
            RunProblem p = about(RunProblem::Reason::ToolExitCode, QString(), tool.name);
            p.exitCode = outcome.exitCode;
            p.output = printed();
            problem(std::move(p));
            return;
        }
        const QString ready = m_folder + QStringLiteral("/step%1.kept").arg(step);
        const Verdict verdict = gate.judge(m_working, output, ready, plan.allow);
        if (!verdict.accepted) {
            if (!verdict.notSmaller) {
                RunProblem p = verdict.why;
                p.path = m_task.path;
                p.tool = tool.name;
                p.output = printed();
                problem(std::move(p),
                        verdict.missing ? RunProblem::Kind::ToolFailed : RunProblem::Kind::Refused);
            }
            return;
        }
        if (!QFile::remove(m_working) || !QFile::rename(ready, m_working)) {
            problem(about(RunProblem::Reason::ResultNotTaken, QString(), tool.name));
            return;
        }
        tool.column = FileIdentity::of(m_working).size;
        m_result.kept.append(tool.name);
    }

    // The row's result goes where the save method says, in one verified write.
    void save(OpenedFile &original)
    {
        // Another program wrote the file meanwhile: theirs wins, and nothing
        // made from what it held before is saved, in its place or beside it.
        if (!original.unchangedOnDisk()) {
            passOver(about(RunProblem::Reason::FileChangedDuringRun));
            return;
        }
        QString error;
        const qint64 size = FileIdentity::of(m_working).size;
        switch (m_shared.plan.saveMethod) {
        case SaveMethod::InPlace: {
            if (size >= m_result.before) {
                m_result.after = m_result.before; // nothing better: the file stays as it is
                m_result.savedAs = m_task.path;
                return;
            }
            WriteCheck check;
            check.expected = &original.identity();
            if (!replaceFileContent(original.realPath(), m_working, &error, &check,
                                    m_shared.folder->journal())) {
                passOver(about(check.changedMeanwhile ? RunProblem::Reason::FileChangedDuringRun
                                                      : RunProblem::Reason::WriteFailed,
                               error));
                return;
            }
            m_result.written = check.written;
            m_result.savedAs = m_task.path;
            break;
        }
        case SaveMethod::CopyBeside:
            if (!createBeside(withUnderscoreBeforeExtension(m_task.path), original, &error)) {
                passOver(about(RunProblem::Reason::CopyFailed, error));
                return;
            }
            break;
        case SaveMethod::ResultFolder: {
            QString tried;
            const QString folder = m_shared.resultFolder->get(&tried);
            if (folder.isEmpty()) {
                passOver(about(RunProblem::Reason::ResultFolderFailed, tried));
                return;
            }
            if (!createBeside(folder + u'/' + fileNameOf(m_task.path), original, &error)) {
                passOver(about(RunProblem::Reason::CopyFailed, error));
                return;
            }
            break;
        }
        case SaveMethod::None:
            passOver(about(RunProblem::Reason::NoSaveMethod));
            return;
        }
        m_result.after = size;
    }

    // A new file at target, or with another "_" before the extension while
    // the name is taken.
    bool createBeside(QString target, const OpenedFile &original, QString *error)
    {
        for (;;) {
            switch (createFileVerified(target, m_working, original.realPath(), error,
                                       m_shared.folder->journal(), &m_result.written)) {
            case CreateResult::Created:
                m_result.savedAs = target;
                return true;
            case CreateResult::Taken:
                target = withUnderscoreBeforeExtension(target);
                break;
            case CreateResult::Failed:
                return false;
            }
        }
    }

    // What stays (a tool's part nobody can remove) goes with the run's folder, or is told then.
    void removeFolder()
    {
        if (!m_folder.isEmpty())
            removePrivateFolder(m_folder);
    }

    RunEngine::Shared &m_shared;
    const RowTask m_task;
    RowResult m_result;
    QString m_folder;
    QString m_working;
    QByteArray m_originalDigest;
    QByteArray m_chain; // the fingerprint of the file's chain, when the memory is used
};

} // namespace

RowResult runRow(RunEngine::Shared &shared, const RowTask &task)
{
    return RowJob(shared, task).run();
}

} // namespace tinsoke
