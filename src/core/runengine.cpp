#include "runengine.h"

#include "commandline.h"
#include "commandsplit.h"
#include "fileops.h"
#include "paths.h"
#include "pictureparts.h"
#include "privatefiles.h"
#include "safewrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <QWaitCondition>

#include <map>
#include <set>
#include <utility>

namespace tinsoke {

ToolPlan toolPlan(Tool tool, bool use, const QString &program, const QString &options)
{
    ToolPlan plan;
    plan.use = use && !program.isEmpty();
    plan.program = program;
    plan.words = splitArguments(options);
    plan.allow = toolInfo(tool).allowances(plan.words);
    return plan;
}

ExtraToolPlan extraToolPlan(const ExtraTool &tool)
{
    ExtraToolPlan extra;
    extra.name = tool.name;
    extra.kind = tool.kind;
    // A bare name is looked up on PATH, as the page offers it.
    extra.plan.program = tool.path.contains(u'/') || QDir::isAbsolutePath(tool.path)
                             ? tool.path
                             : findProgramOnPath(tool.path);
    extra.plan.use = tool.use && extraToolProblem(tool).isEmpty() &&
                     splitShellWords(tool.args, &extra.plan.words);
    return extra; // no option of its own may change the picture
}

RunPlan runPlanFromSettings(const SettingValues &values, const QList<ExtraTool> &extras)
{
    RunPlan plan;
    for (const ExtraTool &tool : extras)
        plan.extras.append(extraToolPlan(tool));
    for (const Tool tool : AllTools) {
        const ToolInfo &info = toolInfo(tool);
        plan.tools.at(static_cast<std::size_t>(tool)) =
            toolPlan(tool, valueOf(values, info.useSetting).toBool(),
                     valueOf(values, info.pathSetting).toString(), info.options(values));
    }
    plan.saveMethod = valueOf(values, Setting::SaveMode).toInt();
    plan.jobs = valueOf(values, Setting::Jobs).toInt();
    return plan;
}

std::optional<ImageKind> chainFor(const QString &path, const QString &fileName)
{
    const QString ext = fileExtension(path).toLower();
    if (ext == u".jpg" || ext == u".jpeg")
        return ImageKind::Jpeg;
    if (fileExtension(fileName).toLower() == u".png")
        return ImageKind::Png;
    return std::nullopt;
}

int effectiveJobs(int jobs)
{
    return jobs > 0 ? jobs : qMax(1, QThread::idealThreadCount());
}

// ---------------------------------------------------------------------------
// The report

void RunSummary::add(const RowResult &row)
{
    problems += row.problems;
    switch (row.outcome) {
    case RowResult::Outcome::Done:
        ++done;
        before += row.before;
        after += row.after;
        break;
    case RowResult::Outcome::PassedOver:
        ++passedOver;
        break;
    case RowResult::Outcome::Stopped:
        stopped = true;
        break;
    }
}

namespace {

// The problems grouped by reason, in the order the reasons first came up,
// each with its files and, when asked, one sample of what a tool printed.
QString groupedReasons(const QList<RunProblem> &problems, const QString &heading, bool withOutput);

// A tool result the check refused is no failure of the file: it is told
// apart, after what could not be done.
QString groupedReport(const QList<RunProblem> &problems, bool withOutput)
{
    QList<RunProblem> failed, refused;
    for (const RunProblem &p : problems)
        (p.kind == RunProblem::Kind::Refused ? refused : failed).append(p);
    QString text =
        groupedReasons(failed, QStringLiteral("処理できなかったファイルがあります。"), withOutput);
    const QString notUsed = groupedReasons(
        refused,
        QStringLiteral(
            "確かめた結果、使わなかったツールの結果があります（ファイルは処理しました）。"),
        withOutput);
    if (!text.isEmpty() && !notUsed.isEmpty())
        text += QStringLiteral("\n\n");
    return text + notUsed;
}

QString groupedReasons(const QList<RunProblem> &problems, const QString &heading, bool withOutput)
{
    constexpr int PathsPerReason = 5;
    if (problems.isEmpty())
        return QString();
    QStringList order;
    std::map<QString, QList<const RunProblem *>> byReason;
    for (const RunProblem &p : problems) {
        auto &list = byReason[p.reason];
        if (list.isEmpty())
            order.append(p.reason);
        list.append(&p);
    }
    QString text = heading;
    for (const QString &reason : order) {
        const auto &list = byReason[reason];
        text += QStringLiteral("\n\n%1（%2 件）").arg(reason).arg(list.size());
        for (int i = 0; i < list.size() && i < PathsPerReason; ++i)
            text += QStringLiteral("\n　") + list.at(i)->path;
        if (list.size() > PathsPerReason)
            text += QStringLiteral("\n　ほか %1 件").arg(list.size() - PathsPerReason);
        for (const RunProblem *p : list) {
            if (!withOutput || p->output.isEmpty())
                continue;
            // One sample of what the tool said is enough to see why.
            QStringList lines = p->output.trimmed().split(u'\n');
            if (lines.size() > 6)
                lines = lines.mid(lines.size() - 6);
            text += QStringLiteral("\n　出力：") + lines.join(QStringLiteral("\n　　"));
            break;
        }
    }
    return text;
}

} // namespace

QString RunSummary::reportText() const
{
    return groupedReport(problems, true);
}

RunSummary::Report RunSummary::splitReport() const
{
    Report report{groupedReport(problems, false), QString()};
    QStringList outputs;
    for (const RunProblem &p : problems) {
        if (!p.output.trimmed().isEmpty())
            outputs.append(p.path + u'\n' + p.reason + u'\n' + p.output.trimmed());
    }
    report.details = outputs.join(QStringLiteral("\n\n"));
    return report;
}

QString runningStatus(int done, int total)
{
    return QStringLiteral("%1 / %2 件").arg(done).arg(total);
}

QString formatBytes(qint64 bytes)
{
    if (bytes < 1000)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const Units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 999.95 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(Units[unit]);
}

QString finishedStatus(const RunSummary &summary)
{
    QString text = QStringLiteral("%1 件　%2 → %3")
                       .arg(summary.done)
                       .arg(formatBytes(summary.before), formatBytes(summary.after));
    if (summary.before > 0) {
        const double saved =
            100.0 * static_cast<double>(summary.before - summary.after) / summary.before;
        text += QStringLiteral("（%1%2 %）")
                    .arg(saved > 0 ? QStringLiteral("−") : QString())
                    .arg(QString::number(qAbs(saved), 'f', 1));
    }
    if (summary.passedOver > 0)
        text += QStringLiteral("　%1 件は処理できませんでした").arg(summary.passedOver);
    if (summary.stopped)
        text += QStringLiteral("　中止しました");
    return text;
}

// ---------------------------------------------------------------------------
// What the worker threads share

namespace {

const QString ResultFolderName = QStringLiteral("Result_Tinsoke");

// Rows that name one file (two hard links, a link and its target) never run
// at the same time: the second waits for the first.
class FileLocks {
public:
    bool acquire(const FileIdentity &id, const RunningTools &running)
    {
        QMutexLocker lock(&m_mutex);
        while (m_busy.count(id.key())) {
            if (running.stopped())
                return false;
            m_freed.wait(&m_mutex, 100);
        }
        m_busy.insert(id.key());
        return true;
    }
    void release(const FileIdentity &id)
    {
        const QMutexLocker lock(&m_mutex);
        m_busy.erase(id.key());
        m_freed.wakeAll();
    }

private:
    QMutex m_mutex;
    QWaitCondition m_freed;
    std::set<std::pair<quint64, quint64>> m_busy;
};

// Copies whose names could meet (a.png from two folders into one result
// folder; a.png and a_.png beside each other) take their names in list
// order, so a row's result does not depend on which row finished first.
class SaveOrder {
public:
    void plan(const QList<RowTask> &rows, int saveMethod)
    {
        if (saveMethod != 1 && saveMethod != 2)
            return;
        std::map<QString, int> lastWithKey;
        for (const RowTask &row : rows) {
            QString name = fileNameOf(row.path);
            const QString ext = fileExtension(name);
            QString stem = name.left(name.size() - ext.size());
            while (stem.endsWith(u'_'))
                stem.chop(1);
            const QString key =
                (saveMethod == 1 ? folderOf(row.path) : QString()) + u'/' + stem + ext;
            const auto found = lastWithKey.find(key);
            if (found != lastWithKey.end())
                m_before[row.row] = found->second;
            lastWithKey[key] = row.row;
        }
    }
    // Waits until the earlier row whose name could meet this one's has saved.
    bool waitTurn(int row, const RunningTools &running)
    {
        const auto before = m_before.find(row);
        if (before == m_before.end())
            return true;
        QMutexLocker lock(&m_mutex);
        while (!m_done.count(before->second)) {
            if (running.stopped())
                return false;
            m_changed.wait(&m_mutex, 100);
        }
        return true;
    }
    void done(int row)
    {
        const QMutexLocker lock(&m_mutex);
        m_done.insert(row);
        m_changed.wakeAll();
    }

private:
    std::map<int, int> m_before; // fixed before the first row starts
    QMutex m_mutex;
    QWaitCondition m_changed;
    std::set<int> m_done;
};

// The result folder beside the first listed file, made when first needed.
class ResultFolder {
public:
    explicit ResultFolder(QString path)
        : m_path(std::move(path))
    {}
    // The folder, or the empty text with the reason when it cannot be made.
    QString get(QString *error)
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_tried) {
            m_tried = true;
            for (;;) {
                if (QDir().mkdir(m_path)) {
                    m_ready = true;
                    break;
                }
                if (!entryExists(m_path))
                    break; // not a matter of the name: trying others cannot help
                m_path += u'_';
            }
        }
        if (!m_ready)
            *error = QStringLiteral("結果フォルダを作成できません（%1）").arg(m_path);
        return m_ready ? m_path : QString();
    }

private:
    QMutex m_mutex;
    QString m_path;
    bool m_tried = false;
    bool m_ready = false;
};

} // namespace

struct RunEngine::Shared {
    RunPlan plan;
    PictureReader readFacts;
    PictureChangeCheck checkChange;
    RunningTools running;
    FileLocks locks;
    std::unique_ptr<RunFolder> folder;
    QString folderError;
    std::unique_ptr<ResultFolder> resultFolder;
    SaveOrder saveOrder;
};

// ---------------------------------------------------------------------------
// One row, on a worker thread

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

// Whether a result may take the working file's place: a regular file, a
// whole image of its kind, smaller, and the same picture except where the
// user's options ask for a change. Empty when it may; else why not. An
// empty reason with notSmaller set is the ordinary "no gain".
struct Verdict {
    bool accepted = false;
    bool notSmaller = false;
    bool missing = false; // the tool left no result at all
    QString reason;
};

class Gate {
public:
    Gate(const PictureReader &read, const PictureChangeCheck &checkChange, ImageKind kind,
         PictureFacts original, PictureParts parts)
        : m_read(read)
        , m_checkChange(checkChange)
        , m_kind(kind)
        , m_reference(std::move(original))
        , m_parts(std::move(parts))
    {}

    // Judges a tool's result; an accepted one, with the user's metadata and
    // trailing bytes put back, is left at ready.
    Verdict judge(const QString &working, const QString &candidate, const QString &ready,
                  const PictureAllowances &allow)
    {
        Verdict v;
        const FileIdentity c = FileIdentity::of(candidate);
        if (!c.exists) {
            v.reason = QStringLiteral("%1 が結果を出力しませんでした");
            v.missing = true;
            return v;
        }
        if (!c.regular) {
            v.reason = QStringLiteral("%1 の結果が通常のファイルではありません");
            return v;
        }
        QByteArray bytes;
        if (!readRegularFile(candidate, &bytes)) {
            v.reason = QStringLiteral("%1 の結果が壊れた画像でした");
            return v;
        }
        PictureAllowances together = m_allowed;
        together |= allow;
        QByteArray whole = putBack(bytes, m_parts, m_kind, together, &v.reason);
        bytes.clear();
        if (whole.isEmpty())
            return v;
        if (whole.size() >= FileIdentity::of(working).size) {
            v.notSmaller = true;
            return v;
        }
        if (!keepsWhatTheUserHad(whole, m_parts, m_kind, together, &v.reason))
            return v;
        if (m_kind == ImageKind::Jpeg && !allow.trim && !turnIsWhole(m_parts, allow.reshape)) {
            v.reason = QStringLiteral(
                "%1 の結果では端の画素を回転・反転できません（切り取りを選んでください）");
            return v;
        }
        QFile out(ready);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            out.write(whole) != whole.size() || !out.flush()) {
            v.reason = QStringLiteral("%1 の結果を取り込めません");
            return v;
        }
        out.close();
        const PictureFacts result = m_read(ready, m_kind);
        if (!result.readable) {
            v.reason = QStringLiteral("%1 の結果が壊れた画像でした");
        } else if (!allow.pixels() && result.frames != m_reference.frames) {
            v.reason = QStringLiteral("%1 の結果ではアニメーションのコマが変わりました（") +
                       QString::number(m_reference.frameCount) + QStringLiteral(" → ") +
                       QString::number(result.frames.isEmpty() ? 1 : result.frameCount) +
                       QStringLiteral(" コマ）");
        } else if (!allow.pixels() && result.pixels != m_reference.pixels) {
            v.reason = QStringLiteral("%1 の結果は画素が元の画像と異なりました");
        } else if (!allow.colour && result.colour != m_reference.colour) {
            v.reason =
                QStringLiteral("%1 の結果では色の情報（カラープロファイルなど）が失われました");
        } else if (const QString why =
                       allow.pixels() ? m_checkChange(working, ready, m_kind, allow) : QString();
                   !why.isEmpty()) {
            v.reason = QStringLiteral("%1 の結果は") + why;
        } else {
            v.accepted = true;
            m_allowed = together;
            m_accepted = QCryptographicHash::hash(whole, QCryptographicHash::Blake2b_256);
            if (allow.pixels() || allow.colour)
                m_reference = result; // the picture the next tool must keep
        }
        return v;
    }

    // The last look before the user's file is written: the bytes are those
    // the check accepted last (or the original's, when nothing was), and they
    // carry what the user had.
    bool finalBytesAreChecked(const QString &working, const QByteArray &originalDigest) const
    {
        QByteArray bytes;
        if (!readRegularFile(working, &bytes))
            return false;
        const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
        if (m_accepted.isEmpty())
            return digest == originalDigest;
        QString why;
        return digest == m_accepted && keepsWhatTheUserHad(bytes, m_parts, m_kind, m_allowed, &why);
    }

private:
    const PictureReader &m_read;
    const PictureChangeCheck &m_checkChange;
    ImageKind m_kind;
    PictureFacts m_reference;
    PictureParts m_parts;
    PictureAllowances m_allowed; // what the steps kept so far asked for
    QByteArray m_accepted;       // digest of the bytes last accepted
};

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
        // Waited for before any file is locked: a row holding a lock never
        // waits for another row, so no two rows can wait for each other.
        if (!m_shared.saveOrder.waitTurn(m_task.row, m_shared.running)) {
            m_result.outcome = RowResult::Outcome::Stopped;
            return m_result;
        }
        if (!m_shared.folder) {
            passOver(m_shared.folderError);
            return m_result;
        }
        for (int attempt = 0;; ++attempt) {
            // The file as it is now: a regular file that can be read, opened
            // without waiting, whatever now stands at its name.
            QString error;
            OpenedFile original = OpenedFile::open(m_task.path, &error);
            if (!original.isOpen()) {
                passOver(error);
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
    void passOver(const QString &reason)
    {
        m_result.outcome = RowResult::Outcome::PassedOver;
        m_result.columns = {};
        m_result.extraColumns.clear();
        m_result.kept.clear();
        m_result.problems.append({reason, m_task.path, QString(), RunProblem::Kind::PassedOver});
    }

    void problem(const QString &reason, const QString &output = QString(),
                 RunProblem::Kind kind = RunProblem::Kind::ToolFailed)
    {
        m_result.problems.append({reason, m_task.path, output, kind});
    }

    void processLocked(OpenedFile &original)
    {
        QString error;
        const auto rowFolder = m_shared.folder->makeRowFolder(m_task.row, &error);
        if (rowFolder.isEmpty()) {
            passOver(error);
            return;
        }
        m_folder = rowFolder;
        // A name of our own: the user's may be no valid text for a tool.
        m_working = rowFolder + QStringLiteral("/image") + fileExtension(m_task.path).toLower();
        if (!original.copyTo(m_working, &error)) {
            passOver(QStringLiteral("コピーを作成できません（%1）").arg(error));
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
                passOver(facts.why + QStringLiteral("（処理しませんでした）"));
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
            passOver(
                QStringLiteral("最後の確認で結果が元の画像と合わないため、書き込みませんでした"));
        else
            save(original);
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
            problem(QStringLiteral("%1 用のコピーを作成できません（%2）")
                        .arg(tool.name, error.isEmpty() ? stepFolder : error));
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
            problem(QStringLiteral("%1 を実行できません：%2（%3）")
                        .arg(tool.name, startFailureMessage(outcome.startError),
                             qt_error_string(outcome.startError)),
                    QString(), RunProblem::Kind::NotStarted);
            return; // its column stays empty: it did not run
        }
        tool.column = sizeBefore;
        if (!outcome.exited) {
            problem(QStringLiteral("%1 が異常終了しました（シグナル %2）")
                        .arg(tool.name)
                        .arg(outcome.signal),
                    outputText(outcome, {output, input, m_working}, m_folder, m_task.path));
            return;
        }
        if (outcome.exitCode != 0 && outcome.exitCode != tool.alsoFine) {
            problem(QStringLiteral("%1 がエラーで終了しました（終了コード %2）")
                        .arg(tool.name)
                        .arg(outcome.exitCode),
                    outputText(outcome, {output, input, m_working}, m_folder, m_task.path));
            return;
        }
        const QString ready = m_folder + QStringLiteral("/step%1.kept").arg(step);
        const Verdict verdict = gate.judge(m_working, output, ready, plan.allow);
        if (!verdict.accepted) {
            if (!verdict.notSmaller)
                problem(verdict.reason.arg(tool.name),
                        outputText(outcome, {output, input, m_working}, m_folder, m_task.path),
                        verdict.missing ? RunProblem::Kind::ToolFailed : RunProblem::Kind::Refused);
            return;
        }
        if (!QFile::remove(m_working) || !QFile::rename(ready, m_working)) {
            problem(QStringLiteral("%1 の結果を取り込めません").arg(tool.name));
            return;
        }
        tool.column = FileIdentity::of(m_working).size;
        m_result.kept.append(tool.name);
    }

    // The row's result goes where the save method says, in one verified write.
    void save(OpenedFile &original)
    {
        QString error;
        const qint64 size = FileIdentity::of(m_working).size;
        switch (m_shared.plan.saveMethod) {
        case 0: {
            if (size >= m_result.before) {
                m_result.after = m_result.before; // nothing better: the file stays as it is
                m_result.savedAs = m_task.path;
                return;
            }
            // Someone else may have written the file meanwhile: theirs wins.
            if (!original.unchangedOnDisk()) {
                passOver(
                    QStringLiteral("処理中にファイルが変更されたため、結果を書き込みませんでした"));
                return;
            }
            const FileIdentity &was = original.identity();
            const ExpectedFile expected{was.device, was.inode, was.size, was.modifiedNs};
            if (!replaceFileContent(original.realPath(), m_working, &error, &expected,
                                    m_shared.folder->journal())) {
                passOver(QStringLiteral("結果を書き込めません（%1）").arg(error));
                return;
            }
            m_result.savedAs = m_task.path;
            break;
        }
        case 1:
            if (!createBeside(withUnderscoreBeforeExtension(m_task.path), original, &error)) {
                passOver(QStringLiteral("コピーを作成できません（%1）").arg(error));
                return;
            }
            break;
        case 2: {
            const QString folder = m_shared.resultFolder->get(&error);
            if (folder.isEmpty() ||
                !createBeside(folder + u'/' + fileNameOf(m_task.path), original, &error)) {
                passOver(error.startsWith(QStringLiteral("結果フォルダ"))
                             ? error
                             : QStringLiteral("コピーを作成できません（%1）").arg(error));
                return;
            }
            break;
        }
        default:
            passOver(QStringLiteral("保存方法が選択されていません"));
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
                                       m_shared.folder->journal())) {
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

    void removeFolder()
    {
        if (!m_folder.isEmpty())
            QDir(m_folder).removeRecursively();
    }

    RunEngine::Shared &m_shared;
    const RowTask m_task;
    RowResult m_result;
    QString m_folder;
    QString m_working;
    QByteArray m_originalDigest;
};

} // namespace

// ---------------------------------------------------------------------------
// The scheduler, on the thread that owns the engine

RunEngine::RunEngine(RunPlan plan, QList<RowTask> rows, PictureReader readFacts,
                     PictureChangeCheck checkChange, QObject *parent)
    : QObject(parent)
    , m_plan(std::move(plan))
    , m_rows(std::move(rows))
    , m_shared(std::make_shared<Shared>())
{
    m_shared->plan = m_plan;
    m_shared->readFacts = std::move(readFacts);
    m_shared->checkChange = std::move(checkChange);
    m_pool.setMaxThreadCount(effectiveJobs(m_plan.jobs));
    m_pool.setExpiryTimeout(-1);
}

RunEngine::~RunEngine()
{
    m_shared->running.stopAll();
    m_pool.clear();
    m_pool.waitForDone();
}

void RunEngine::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_rows.isEmpty()) {
        m_shared->folder = RunFolder::create(&m_shared->folderError);
        m_shared->resultFolder =
            std::make_unique<ResultFolder>(folderOf(m_rows.first().path) + ResultFolderName);
        m_shared->saveOrder.plan(m_rows, m_plan.saveMethod);
    }
    dispatch();
    // Even an empty run ends through the event loop, after start() has returned.
    QMetaObject::invokeMethod(this, &RunEngine::finishIfIdle, Qt::QueuedConnection);
}

void RunEngine::stop()
{
    if (!m_started || m_finished || m_stopping)
        return;
    m_stopping = true;
    m_summary.stopped = true;
    m_shared->running.stopAll();
    finishIfIdle();
}

void RunEngine::dispatch()
{
    while (!m_stopping && m_next < m_rows.size() && m_inFlight < m_pool.maxThreadCount()) {
        const RowTask task = m_rows.at(m_next++);
        ++m_inFlight;
        std::shared_ptr<Shared> shared = m_shared;
        RunEngine *engine = this; // outlives the job: its destructor waits for the pool
        m_pool.start([shared, task, engine] {
            const RowResult result = RowJob(*shared, task).run();
            QMetaObject::invokeMethod(
                engine, [engine, result] { engine->rowDone(result); }, Qt::QueuedConnection);
        });
    }
}

void RunEngine::rowDone(const RowResult &result)
{
    --m_inFlight;
    ++m_finishedRows;
    m_summary.add(result);
    Q_EMIT rowFinished(result);
    dispatch();
    finishIfIdle();
}

void RunEngine::finishIfIdle()
{
    if (m_finished || m_inFlight > 0 || (m_next < m_rows.size() && !m_stopping))
        return;
    m_finished = true;
    m_shared->folder.reset(); // the run's temporary folder goes with everything in it
    Q_EMIT finished();
}

} // namespace tinsoke
