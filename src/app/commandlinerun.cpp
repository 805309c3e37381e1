#include "commandlinerun.h"

#include "commandlineoutput.h"
#include "commandlinewatch.h"

#include "appinfo.h"
#include "filelistmodel.h"
#include "finishedfiles.h"
#include "ini.h"
#include "intake.h"
#include "paths.h"
#include "picturecheck.h"
#include "runengine.h"
#include "runtexts.h"
#include "stopsignals.h"

#include <QCommandLineParser>
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

const char *const OutputFormat =
    "\n"
    "出力（標準出力、タブ区切り、ファイルごとに一覧の順で1行）:\n"
    "  パス  前のバイト数  後のバイト数  変化(%)  結果を採用したツール(,区切り。なしは -)  保存先\n"
    "結果を採用したツールが = の行は、記憶から処理済みと分かったファイルです（ツールを\n"
    "起動せず、何も書き込んでいません）。記憶は設定ファイルごとにあり、ユーザーの設定\n"
    "ファイルなら $XDG_CACHE_HOME/pelmora-tinsoke/finished.db、ほかの設定ファイルなら\n"
    "その横の「名前.finished.db」です。\n"
    "最後に1行:\n"
    "  TOTAL  処理したファイル数  前のバイト数  後のバイト数  変化(%)  処理できなかったファイル数\n"
    "パスは絶対パスで、\\ はバックスラッシュ2つ、タブは \\t、改行は \\n と書きます。\n"
    "--dry-run では「パス  使うツール  保存方法」の行と、その下にツールごとに\n"
    "「  ツール名  プログラムと引数」の行を出力します（作業コピーは {コピー} と書きます）。\n"
    "問題は標準エラーに「パス: 理由」の形で出力します。\n"
    "\n"
    "終了コード: 0 すべて処理した（小さくならなかったファイルも含む）、1 処理できなかった\n"
    "ファイルか起動できないツールがあった、2 使い方の誤りか設定ファイルを使えない、\n"
    "130 Ctrl+C で中止した（ファイルはすべて元のままか、処理を終えた状態です）。\n"
    "\n"
    "--watch はフォルダの中身を処理したあと、届いた画像や変わった画像を書き終わりから\n"
    "1秒待って処理し、同じ形の行を出力します（TOTAL の行と、記憶済みのファイルの行は\n"
    "出しません）。SIGINT・SIGTERM・SIGHUP で終わり、終了コードは 128 + シグナル番号\n"
    "（SIGTERM なら 143）です。\n";

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
        *values =
            tinsoke::readSettings(tinsoke::IniDocument::fromBytes(tinsoke::defaultSettingsText()));
        for (const tinsoke::Tool tool : tinsoke::AllTools) {
            const tinsoke::ToolInfo &info = tinsoke::toolInfo(tool);
            const QString found = tinsoke::findProgramOnPath(QString::fromUtf16(info.program));
            tinsoke::valueOf(*values, info.pathSetting) = found;
            tinsoke::valueOf(*values, info.useSetting) = !found.isEmpty();
        }
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
        const tinsoke::ToolInfo &info = tinsoke::toolInfo(tool);
        if (plan.tools.at(static_cast<std::size_t>(tool)).use &&
            section.compare(QString::fromUtf16(tinsoke::settingKey(info.useSetting).readSection),
                            Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

const char16_t *const SaveWords[] = {u"overwrite", u"copy", u"folder"};

QString saveMethodText(int method)
{
    static const char16_t *const Captions[] = {u"上書き保存", u"別名で保存", u"結果フォルダ"};
    if (method < 0 || method > 2)
        return QStringLiteral("なし（保存しません）");
    return QStringLiteral("%1（%2）")
        .arg(QString::fromUtf16(SaveWords[method]), QString::fromUtf16(Captions[method]));
}

// Arguments as a shell would take them back: a word that is empty or holds
// a blank or a quote stands in single quotes.
QString shownArguments(const QStringList &argv)
{
    QStringList shown;
    for (const QString &word : argv) {
        const bool plain = !word.isEmpty() && std::none_of(word.begin(), word.end(), [](QChar c) {
            return c.isSpace() || c == u'\'' || c == u'"' || c == u'\\';
        });
        shown << (plain ? word
                        : u'\'' + QString(word).replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    }
    return shown.join(u' ');
}

// What a dry run shows of each tool: its program and every argument, the
// private copies it would get written as {コピー}.
QString toolLines(const tinsoke::RunPlan &plan, const QString &path)
{
    const auto kind = tinsoke::chainFor(path, tinsoke::fileNameOf(path));
    const QString copy = QStringLiteral("{コピー}");
    QString lines;
    if (!kind)
        return lines;
    for (const tinsoke::ChainStep &step : tinsoke::chainSteps(plan, *kind)) {
        const QString output = step.output == tinsoke::Output::InPlace ? copy
                               : step.output == tinsoke::Output::BesideWithJpg
                                   ? copy + QStringLiteral(".jpg")
                                   : QStringLiteral("{出力}");
        const QStringList argv =
            QStringList{step.plan->program} + step.arguments(step.plan->words, copy, output);
        lines += QStringLiteral("  %1\t%2\n").arg(step.name, field(shownArguments(argv)));
    }
    return lines;
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

QString toolsFor(const tinsoke::RunPlan &plan, const QString &path)
{
    const auto kind = tinsoke::chainFor(path, tinsoke::fileNameOf(path));
    QStringList names;
    if (kind)
        for (const tinsoke::ChainStep &step : tinsoke::chainSteps(plan, *kind))
            names << step.name;
    return names.isEmpty() ? QStringLiteral("-") : names.join(u',');
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

int runFromCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-tinsoke"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TINSOKE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("%1 — JPEG・PNG ファイルを外部の最適化ツールで小さくします。\n"
                       "--run を付けるとウィンドウを開かずに処理します。ツールとその設定、"
                       "保存方法はウィンドウと同じ設定ファイルから読みます。")
            .arg(tinsoke::applicationTitle()));
    const QCommandLineOption run(
        QStringLiteral("run"),
        QStringLiteral("ウィンドウを開かずに PATH のファイルとフォルダを処理します。"));
    const QCommandLineOption watch(
        QStringLiteral("watch"),
        QStringLiteral("PATH のフォルダを処理したあとも監視し、画像が届くか変わるたびに、"
                       "書き終わりを待って処理します。シグナルで終わるまで続けます。"));
    const QCommandLineOption jobs(
        QStringLiteral("jobs"),
        QStringLiteral("同時に処理するファイル数（0 は CPU コア数。既定は設定ファイルの Jobs）。"),
        QStringLiteral("N"));
    const QCommandLineOption save(
        QStringLiteral("save"),
        QStringLiteral("保存方法：overwrite（上書き保存）、copy（別名で保存）、"
                       "folder（結果フォルダ）。既定は設定ファイルのもの。"),
        QStringLiteral("METHOD"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("ほかの設定ファイルを使います。"),
                                      QStringLiteral("FILE"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("処理するファイルと使うツールを表示するだけにします。"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"),
        QStringLiteral("ファイルごとの行と合計、進み具合を出力しません。"));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("処理済みと記憶しているファイルも処理します（記憶は更新します）。"));
    const QCommandLineOption filesFrom(
        QStringLiteral("files-from"),
        QStringLiteral(
            "処理するファイルとフォルダを FILE から1行に1つずつ読みます（- は標準入力）。"),
        QStringLiteral("FILE"));
    const QCommandLineOption nullSeparated(
        QStringLiteral("null"),
        QStringLiteral("--files-from の区切りを改行でなく NUL にします（find -print0 の形）。"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("この説明を表示します。"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("版を表示します。"));
    parser.addOptions({run, watch, jobs, save, settings, dryRun, quiet, force, filesFrom,
                       nullSeparated, help, version});
    parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("処理するファイルまたはフォルダ（フォルダは中まですべて）。"),
        QStringLiteral("PATH..."));

#ifdef Q_OS_WIN
    // Windows gives the words as UTF-16; argv holds them in the ANSI code page.
    const QStringList words = QCoreApplication::arguments();
#else
    // The words as the system gave them: a name that is not UTF-8 stays itself.
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words.append(tinsoke::pathFromBytes(QByteArray(argv[i])));
#endif
    if (!parser.parse(words))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        print(stdout, parser.helpText() + QString::fromUtf8(OutputFormat));
        return ExitDone;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(tinsoke::applicationTitle(),
                                                    QCoreApplication::applicationVersion()));
        return ExitDone;
    }
    const bool watching = parser.isSet(watch);
    if (!parser.isSet(run) && !watching)
        return usageError(QStringLiteral("--run か --watch がありません。"));
    if (parser.isSet(run) && watching)
        return usageError(QStringLiteral("--run と --watch は一緒に使えません。"));
    if (watching && (parser.isSet(dryRun) || parser.isSet(filesFrom)))
        return usageError(QStringLiteral("--watch は --dry-run、--files-from と使えません。"));
    if (parser.isSet(nullSeparated) && !parser.isSet(filesFrom))
        return usageError(QStringLiteral("--null は --files-from と使います。"));
    QStringList paths = parser.positionalArguments();
    if (parser.isSet(filesFrom)) {
        QString error;
        if (!readFileList(parser.value(filesFrom), parser.isSet(nullSeparated), &paths, &error))
            return usageError(error);
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("処理するファイルかフォルダを指定してください。"));
#ifdef Q_OS_LINUX
    constexpr bool canWatch = true;
#else
    constexpr bool canWatch = false;
#endif
    if (watching && !canWatch)
        return usageError(QStringLiteral("このシステムでは --watch を使えません。"));
    if (watching) {
        for (QString &path : paths) {
            path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
            if (tinsoke::entryType(path) != tinsoke::EntryType::Folder)
                return usageError(
                    QStringLiteral("--watch にはフォルダを指定してください：%1").arg(path));
        }
    }

    // Every usage error is answered before anything is read.
    int jobsValue = -1;
    if (parser.isSet(jobs)) {
        bool ok = false;
        jobsValue = parser.value(jobs).toInt(&ok);
        if (!ok || jobsValue < 0)
            return usageError(QStringLiteral("--jobs には 0 以上の整数を指定してください。"));
    }
    int saveValue = -1;
    if (parser.isSet(save)) {
        for (int m = 0; m < 3; ++m) {
            if (parser.value(save) == QString::fromUtf16(SaveWords[m]))
                saveValue = m;
        }
        if (saveValue < 0)
            return usageError(
                QStringLiteral("--save には overwrite、copy、folder のどれかを指定してください。"));
    }

    tinsoke::SettingValues values;
    QList<tinsoke::SettingNote> notes;
    QString error;
    QList<tinsoke::ExtraTool> extras;
    QStringList extraNotes;
    const QString settingsPath =
        parser.isSet(settings) ? parser.value(settings)
                               : tinsoke::settingsFilePath(QCoreApplication::applicationFilePath());
    if (!loadSettings(parser.value(settings), settingsPath, &values, &notes, &extras, &extraNotes,
                      &error)) {
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
    if (jobsValue >= 0)
        plan.jobs = jobsValue;
    if (saveValue >= 0)
        plan.saveMethod = tinsoke::saveMethodOf(saveValue);

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
    if (saveModeUnreadable && saveValue < 0) {
        print(stderr, QStringLiteral("pelmora-tinsoke: 保存方法が読めないため処理しません。"
                                     "--save で指定してください。\n"));
        return ExitUsage;
    }

    if (tinsoke::chainSteps(plan, tinsoke::ImageKind::Jpeg).empty() &&
        tinsoke::chainSteps(plan, tinsoke::ImageKind::Png).empty())
        print(stderr, QStringLiteral("pelmora-tinsoke: 使うツールが設定ファイルで選ばれていません"
                                     "（ファイルはそのまま、またはコピーされるだけです）。\n"));
#ifdef Q_OS_LINUX
    if (watching)
        return watchFolders(plan, tinsoke::finishedFilesPath(settingsPath), paths,
                            parser.isSet(quiet), parser.isSet(force));
#endif
    int problems = 0;
    int linksPassedOver = 0;
    const QStringList files = collectFiles(paths, &problems, &linksPassedOver);
    if (linksPassedOver > 0)
        print(stderr, tinsoke::linksPassedOverText(linksPassedOver) + u'\n');
    if (parser.isSet(dryRun)) {
        for (const QString &f : files)
            print(stdout, field(f) + u'\t' + toolsFor(plan, f) + u'\t' +
                              saveMethodText(static_cast<int>(plan.saveMethod)) + u'\n' +
                              toolLines(plan, f));
        return problems > 0 ? ExitSomeFailed : ExitDone;
    }

    QList<tinsoke::RowTask> rows;
    for (int i = 0; i < files.size(); ++i)
        rows.append({i, files.at(i), tinsoke::fileNameOf(files.at(i))});
    tinsoke::RunEngine engine(plan, rows, tinsoke::readPictureFacts, tinsoke::checkPictureChange);
    // The memory only saves work: whatever is wrong with it is told, and the
    // run goes on as it would without it.
    const auto memory =
        std::make_shared<tinsoke::FinishedFiles>(tinsoke::finishedFilesPath(settingsPath));
    tellMemoryProblem(*memory);
    engine.setMemory(memory, parser.isSet(force));
    Printer printer(files, parser.isSet(quiet));
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
