#include "commandlinerun.h"

#include "commandlineoutput.h"
#include "commandlineparse.h"
#include "commandlinewatch.h"

#include "appinfo.h"
#include "filelistmodel.h"
#include "finishedfiles.h"
#include "ini.h"
#include "intake.h"
#include "paths.h"
#include "picturecheck.h"
#include "revert.h"
#include "runengine.h"
#include "runhost.h"
#include "runtexts.h"
#include "stopsignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <map>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

namespace {

constexpr int ExitDone = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitUsage = 2;

int usageError(const QString &message)
{
    print(stderr,
          QStringLiteral("pelmora-tinsoke: %1\n'pelmora-tinsoke --help' で使い方を表示します。\n")
              .arg(message));
    return ExitUsage;
}

// The settings the window would use; a file that is not there yet reads as
// the window's first start: the defaults, with the tools found on PATH ticked.
bool loadSettings(const QString &explicitPath, const QString &path, tinsoke::SettingValues *values,
                  QList<tinsoke::SettingNote> *notes, QList<tinsoke::ExtraTool> *extras,
                  QStringList *extraNotes, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        if (!explicitPath.isEmpty()) {
            *error = QStringLiteral("設定ファイルがありません：%1").arg(path);
            return false;
        }
        *values = tinsoke::firstStartSettings();
        return true;
    }
    // Looked at before it is opened: a FIFO or a device would wait or never end.
    if (!info.isFile()) {
        *error = QStringLiteral("設定ファイルが通常のファイルではありません：%1").arg(path);
        return false;
    }
    if (info.size() > tinsoke::MaxSettingsFileSize) {
        *error = QStringLiteral("設定ファイルが大きすぎます（1 MB まで）：%1").arg(path);
        return false;
    }
    bool ok = false;
    const tinsoke::IniDocument document = tinsoke::loadIniFile(path, &ok);
    if (!ok) {
        *error = QStringLiteral("設定ファイルを読み込めません：%1").arg(path);
        return false;
    }
    *values = tinsoke::readSettings(document, notes);
    *extras = tinsoke::readExtraTools(document, extraNotes);
    return true;
}

// Whether a key belongs to a tool the run uses.
bool belongsToTickedTool(tinsoke::Setting setting, const tinsoke::RunPlan &plan)
{
    const QString section = QString::fromUtf16(tinsoke::settingKey(setting).readSection);
    for (const tinsoke::Tool tool : tinsoke::AllTools) {
        if (plan.tools.at(static_cast<std::size_t>(tool)).use &&
            section.compare(
                QString::fromUtf16(tinsoke::settingKey(tinsoke::toolUseSetting(tool)).readSection),
                Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The paths a --files-from file lists, one per line or NUL-separated, as
// the very bytes they are; empty entries are none.
bool readFileList(const QString &name, bool nullSeparated, QStringList *paths, QString *error)
{
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("--files-from のファイルを読み込めません：%1").arg(name);
        return false;
    }
    const QList<QByteArray> entries = file.readAll().split(nullSeparated ? '\0' : '\n');
    for (const QByteArray &entry : entries)
        if (!entry.isEmpty())
            paths->append(tinsoke::pathFromBytes(entry));
    return true;
}

// The files to process, in order, taken in as a drop of the same paths is;
// a named file that is missing or no picture is told, as a drop cannot.
QStringList collectFiles(const QStringList &arguments, int *problems, int *linksPassedOver)
{
    QStringList paths;
    for (const QString &argument : arguments) {
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(argument));
        const tinsoke::EntryType type = tinsoke::entryType(path);
        QString reason;
        if (type == tinsoke::EntryType::Missing)
            reason = QStringLiteral("ファイルが見つかりません");
        else if (type == tinsoke::EntryType::Special)
            reason = QStringLiteral("通常のファイルではありません");
        else if (type != tinsoke::EntryType::Folder && !tinsoke::isListableImage(path))
            reason = QStringLiteral("JPEG・PNG ファイル（.jpg .jpeg .png）ではありません");
        if (reason.isEmpty()) {
            paths.append(path);
        } else {
            print(stderr, QStringLiteral("%1: %2\n").arg(field(path), reason));
            ++*problems;
        }
    }
    tinsoke::FileListModel list;
    *linksPassedOver = tinsoke::DropFiles(list, paths);
    QStringList files;
    for (int i = 0; i < list.rowCount(); ++i)
        files.append(list.ReadRow(i).Path);
    return files;
}

// Prints rows as they finish, in list order; keeps the progress line.
class Printer {
public:
    Printer(const QStringList &files, bool quiet)
        : m_files(files)
        , m_quiet(quiet)
        , m_progress(!quiet && ::isatty(STDERR_FILENO))
    {}

    void row(const tinsoke::RowResult &r)
    {
        m_done[r.row] = r;
        ++m_finished;
        for (const tinsoke::RunProblem &p : r.problems)
            problem(p);
        flush(false);
        progress();
    }

    void end(const tinsoke::RunSummary &summary)
    {
        flush(true);
        clearProgress();
        if (const QString left = tinsoke::folderLeftText(summary); !left.isEmpty())
            tell(left);
        if (m_quiet)
            return;
        print(stdout, QStringLiteral("TOTAL\t%1\t%2\t%3\t%4\t%5\n")
                          .arg(summary.done)
                          .arg(summary.before)
                          .arg(summary.after)
                          .arg(change(summary.before, summary.after))
                          .arg(summary.passedOver));
        std::fflush(stdout);
    }

private:
    void problem(const tinsoke::RunProblem &p)
    {
        clearProgress();
        print(stderr, problemText(p));
    }

    // Rows go out in list order; at the end, what is left, skipping rows
    // that never finished.
    void flush(bool all)
    {
        while (m_next < m_files.size()) {
            const auto found = m_done.find(m_next);
            if (found == m_done.end()) {
                if (!all)
                    break;
                ++m_next;
                continue;
            }
            const tinsoke::RowResult &r = found->second;
            const bool remembered = r.outcome == tinsoke::RowResult::Outcome::Remembered;
            if ((r.outcome == tinsoke::RowResult::Outcome::Done || remembered) && !m_quiet) {
                clearProgress();
                print(stdout, resultLine(m_files.at(r.row), r));
            }
            m_done.erase(found);
            ++m_next;
        }
        std::fflush(stdout);
    }

    void progress()
    {
        if (!m_progress)
            return;
        print(stderr, QStringLiteral("\r%1 / %2 件").arg(m_finished).arg(m_files.size()));
        m_progressShown = true;
    }

    void clearProgress()
    {
        if (m_progressShown)
            std::fputs("\r\033[K", stderr);
        m_progressShown = false;
    }

    const QStringList &m_files;
    const bool m_quiet;
    const bool m_progress;
    bool m_progressShown = false;
    std::map<int, tinsoke::RowResult> m_done;
    int m_next = 0;
    int m_finished = 0;
};

} // namespace

bool wantsCommandLineMode(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--")
            break;
        // Any option belongs here: the window takes none, and an unknown one
        // is answered with a usage error before anything needs a display.
        if (a.size() > 1 && a.startsWith('-'))
            return true;
    }
    return false;
}

// --revert: each file's outcome, a line on standard output for what came
// back and one on standard error for what did not.
int revertFromCommandLine(const CommandLineRequest &request, const QString &settingsPath)
{
    if (request.settings && !QFileInfo::exists(settingsPath)) {
        tell(QStringLiteral("設定ファイルがありません：%1").arg(settingsPath));
        return ExitUsage;
    }
    // No memory yet, no way back: none is made for the question.
    if (!QFileInfo::exists(tinsoke::finishedFilesPath(settingsPath))) {
        if (!request.quiet)
            tell(QStringLiteral("最後に上書き保存した実行に、戻すファイルはありません。"));
        return ExitDone;
    }
    tinsoke::RunHost host(settingsPath, tinsoke::readPictureFacts, tinsoke::checkPictureChange);
    const auto memory = host.memory();
    const QString problem = memory->takeProblem();
    const std::vector<tinsoke::RevertOutcome> outcomes =
        tinsoke::revertOverwrites(*memory, request.paths);
    if (!problem.isEmpty()) {
        tell(problem);
        return ExitUsage; // without the memory there is no way back to follow
    }
    if (outcomes.empty() && !request.quiet)
        tell(QStringLiteral("最後に上書き保存した実行に、戻すファイルはありません。"));
    bool allBack = true;
    for (const tinsoke::RevertOutcome &o : outcomes) {
        const bool back = o.kind == tinsoke::RevertOutcome::Kind::Reverted;
        allBack = allBack && back;
        if (back && !request.quiet)
            print(stdout, field(o.path) + u'\t' + tinsoke::revertOutcomeText(o) + u'\n');
        else if (!back)
            print(stderr, o.path + QStringLiteral(": ") + tinsoke::revertOutcomeText(o) + u'\n');
    }
    tellMemoryProblem(*memory);
    return allBack ? ExitDone : ExitSomeFailed;
}

int runFromCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-tinsoke"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TINSOKE_VERSION));

#ifdef Q_OS_WIN
    // Windows gives the words as UTF-16; argv holds them in the ANSI code page.
    const QStringList words = QCoreApplication::arguments();
#else
    // The words as the system gave them: a name that is not UTF-8 stays itself.
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words.append(tinsoke::pathFromBytes(QByteArray(argv[i])));
#endif
    const CommandLineParse parsed = parseCommandLine(words);
    if (!parsed.request)
        return usageError(parsed.usageError);
    const CommandLineRequest &request = *parsed.request;
    if (request.action == CommandLineRequest::Action::Help ||
        request.action == CommandLineRequest::Action::Version) {
        print(stdout, request.text);
        return ExitDone;
    }
    if (request.action == CommandLineRequest::Action::Revert)
        return revertFromCommandLine(
            request, request.settings
                         ? *request.settings
                         : tinsoke::settingsFilePath(QCoreApplication::applicationFilePath()));
    const bool watching = request.action == CommandLineRequest::Action::Watch;
    QStringList paths = request.paths;
    if (request.filesFrom) {
        QString error;
        if (!readFileList(*request.filesFrom, request.nullSeparated, &paths, &error))
            return usageError(error);
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("処理するファイルかフォルダを指定してください。"));
    if (watching) {
        for (QString &path : paths) {
            path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
            if (tinsoke::entryType(path) != tinsoke::EntryType::Folder)
                return usageError(
                    QStringLiteral("--watch にはフォルダを指定してください：%1").arg(path));
        }
    }

    // Every usage error is answered before anything is read.
    tinsoke::SettingValues values;
    QList<tinsoke::SettingNote> notes;
    QString error;
    QList<tinsoke::ExtraTool> extras;
    QStringList extraNotes;
    const QString settingsPath =
        request.settings ? *request.settings
                         : tinsoke::settingsFilePath(QCoreApplication::applicationFilePath());
    if (!loadSettings(request.settings.value_or(QString()), settingsPath, &values, &notes, &extras,
                      &extraNotes, &error)) {
        tell(error);
        return ExitUsage;
    }
    // A ticked tool that cannot run stops the run before it starts: a script
    // would otherwise see success for a chain that did not run.
    const QStringList unusable = extraNotes + tinsoke::unusableTickedTools(extras);
    if (!unusable.isEmpty()) {
        for (const QString &line : std::as_const(unusable))
            tell(line);
        tell(QStringLiteral(
            "選ばれたツールが使えないため処理しません。直すか、Use=No にしてください。"));
        return ExitSomeFailed;
    }
    tinsoke::RunPlan plan = tinsoke::runPlanFromSettings(values, extras);
    if (request.jobs >= 0)
        plan.jobs = request.jobs;
    if (request.save)
        plan.saveMethod = *request.save;

    // What the file says that no save of ours writes, and the keys of the
    // tools in use that it lacks.
    bool saveModeUnreadable = false;
    for (const tinsoke::SettingNote &note : std::as_const(notes)) {
        if (note.kind == tinsoke::SettingNote::Kind::Missing &&
            !belongsToTickedTool(note.setting, plan))
            continue;
        saveModeUnreadable =
            saveModeUnreadable || (note.setting == tinsoke::Setting::SaveMode &&
                                   note.kind != tinsoke::SettingNote::Kind::Missing);
        tell(tinsoke::settingNoteText(note, values));
    }
    if (saveModeUnreadable && !request.save) {
        print(stderr, QStringLiteral("pelmora-tinsoke: 保存方法が読めないため処理しません。"
                                     "--save で指定してください。\n"));
        return ExitUsage;
    }

    if (tinsoke::chainSteps(plan, tinsoke::ImageKind::Jpeg).empty() &&
        tinsoke::chainSteps(plan, tinsoke::ImageKind::Png).empty())
        print(stderr, QStringLiteral("pelmora-tinsoke: 使うツールが設定ファイルで選ばれていません"
                                     "（ファイルはそのまま、またはコピーされるだけです）。\n"));
    tinsoke::RunHost host(settingsPath, tinsoke::readFactsForRun, tinsoke::checkPictureChange);
#ifdef Q_OS_LINUX
    if (watching)
        return watchFolders(plan, host, paths, request.quiet, request.force);
#endif
    int problems = 0;
    int linksPassedOver = 0;
    const QStringList files = collectFiles(paths, &problems, &linksPassedOver);
    if (linksPassedOver > 0)
        print(stderr, tinsoke::linksPassedOverText(linksPassedOver) + u'\n');
    if (request.dryRun) {
        print(stdout, dryRunText(plan, files));
        return problems > 0 ? ExitSomeFailed : ExitDone;
    }

    QList<tinsoke::RowTask> rows;
    for (int i = 0; i < files.size(); ++i)
        rows.append({i, files.at(i), tinsoke::fileNameOf(files.at(i))});
    // The memory only saves work: whatever is wrong with it is told, and the
    // run goes on as it would without it.
    const auto memory = host.memory();
    tellMemoryProblem(*memory);
    const auto owned = host.engine(plan, rows, request.force);
    tinsoke::RunEngine &engine = *owned;
    Printer printer(files, request.quiet);
    int stoppedBy = 0;
    tinsoke::StopSignals stopSignals;
    stopOnSignals(stopSignals, engine, &stoppedBy);
    QObject::connect(&engine, &tinsoke::RunEngine::rowFinished, &engine,
                     [&](const tinsoke::RowResult &r) { printer.row(r); });
    QObject::connect(&engine, &tinsoke::RunEngine::finished, &app, &QCoreApplication::quit);
    engine.start();
    QCoreApplication::exec();

    const tinsoke::RunSummary &summary = engine.summary();
    printer.end(summary);
    tellMemoryProblem(*memory);
    if (stoppedBy != 0)
        return 128 + stoppedBy;
    const bool startFailed = std::any_of(summary.problems.begin(), summary.problems.end(),
                                         [](const tinsoke::RunProblem &p) {
                                             return p.kind == tinsoke::RunProblem::Kind::NotStarted;
                                         });
    return problems > 0 || summary.passedOver > 0 || startFailed ? ExitSomeFailed : ExitDone;
}
