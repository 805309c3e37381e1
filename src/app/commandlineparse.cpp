#include "commandlineparse.h"

#include "appinfo.h"
#include "commandlineoutput.h"
#include "paths.h"
#include "trash.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>

namespace {

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
    "上書き保存で元の画像をごみ箱に入れるときは「  元の画像  ごみ箱 フォルダ」の行も出します。\n"
    "問題は標準エラーに「パス: 理由」の形で出力します。\n"
    "\n"
    "終了コード: 0 すべて処理した（小さくならなかったファイルも含む）、1 処理できなかった\n"
    "ファイルか起動できないツールがあった、2 使い方の誤りか設定ファイルを使えない、\n"
    "130 Ctrl+C で中止した（ファイルはすべて元のままか、処理を終えた状態です）。\n"
    "\n"
    "--revert は戻したファイルごとに「パス  元に戻しました」の行を出力し、戻せなかった\n"
    "ファイルは標準エラーに理由を出力します。終了コード: 0 すべて戻した（戻すものが\n"
    "なかったときも）、1 戻せなかったファイルがあった、2 使い方の誤りか記憶ファイルを\n"
    "使えない。\n"
    "\n"
    "--watch はフォルダの中身を処理したあと、届いた画像や変わった画像を書き終わりから\n"
    "1秒待って処理し、同じ形の行を出力します（TOTAL の行と、記憶済みのファイルの行は\n"
    "出しません）。SIGINT・SIGTERM・SIGHUP で終わり、終了コードは 128 + シグナル番号\n"
    "（SIGTERM なら 143）です。\n";

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

QString toolsFor(const tinsoke::RunPlan &plan, const QString &path)
{
    const auto kind = tinsoke::chainFor(path, tinsoke::fileNameOf(path));
    QStringList names;
    if (kind)
        for (const tinsoke::ChainStep &step : tinsoke::chainSteps(plan, *kind))
            names << step.name;
    return names.isEmpty() ? QStringLiteral("-") : names.join(u',');
}

// Where an overwrite would put the original, when it keeps one.
QString originalsLine(const tinsoke::RunPlan &plan, const QString &path)
{
    if (plan.saveMethod != tinsoke::SaveMethod::InPlace ||
        plan.originals != tinsoke::Originals::Trash)
        return {};
    QString error;
    const auto trash = tinsoke::trashFolderFor(path, false, &error);
    if (!trash)
        return QStringLiteral("  元の画像\tごみ箱に入れられないため上書きしません（%1）\n")
            .arg(error);
    return QStringLiteral("  元の画像\tごみ箱 %1%2\n")
        .arg(field(trash->path), trash->exists ? QString() : QStringLiteral("（作ります）"));
}

} // namespace

CommandLineParse parseCommandLine(const QStringList &words)
{
    CommandLineParse result;
    const auto usage = [&](const QString &error) {
        result.usageError = error;
        return result;
    };
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
    const QCommandLineOption revert(
        QStringLiteral("revert"),
        QStringLiteral("上書き保存でごみ箱に入れた元の画像に戻します。PATH がなければ最後に"
                       "上書き保存した実行のファイルすべてです。実行のあとに変更された"
                       "ファイルは戻しません。"));
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
    parser.addOptions({run, watch, revert, jobs, save, settings, dryRun, quiet, force, filesFrom,
                       nullSeparated, help, version});
    parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("処理するファイルまたはフォルダ（フォルダは中まですべて）。"),
        QStringLiteral("PATH..."));

    if (!parser.parse(words))
        return usage(parser.errorText());
    CommandLineRequest request;
    if (parser.isSet(help)) {
        request.action = CommandLineRequest::Action::Help;
        request.text = parser.helpText() + QString::fromUtf8(OutputFormat);
        result.request = request;
        return result;
    }
    if (parser.isSet(version)) {
        request.action = CommandLineRequest::Action::Version;
        request.text = QStringLiteral("%1 %2\n").arg(tinsoke::applicationTitle(),
                                                     QCoreApplication::applicationVersion());
        result.request = request;
        return result;
    }
    const bool watching = parser.isSet(watch);
    if (parser.isSet(revert)) {
        if (parser.isSet(run) || watching)
            return usage(QStringLiteral("--revert は --run、--watch と一緒に使えません。"));
        for (const QCommandLineOption *o :
             {&jobs, &save, &dryRun, &force, &filesFrom, &nullSeparated})
            if (parser.isSet(*o))
                return usage(QStringLiteral("--revert と一緒に使えるのは --settings と --quiet "
                                            "だけです。"));
        request.action = CommandLineRequest::Action::Revert;
        request.paths = parser.positionalArguments();
        request.quiet = parser.isSet(quiet);
        if (parser.isSet(settings))
            request.settings = parser.value(settings);
        result.request = request;
        return result;
    }
    if (!parser.isSet(run) && !watching)
        return usage(QStringLiteral("--run か --watch がありません。"));
    if (parser.isSet(run) && watching)
        return usage(QStringLiteral("--run と --watch は一緒に使えません。"));
    if (watching && (parser.isSet(dryRun) || parser.isSet(filesFrom)))
        return usage(QStringLiteral("--watch は --dry-run、--files-from と使えません。"));
    if (parser.isSet(nullSeparated) && !parser.isSet(filesFrom))
        return usage(QStringLiteral("--null は --files-from と使います。"));
    request.paths = parser.positionalArguments();
    if (request.paths.isEmpty() && !parser.isSet(filesFrom))
        return usage(QStringLiteral("処理するファイルかフォルダを指定してください。"));
#ifdef Q_OS_LINUX
    constexpr bool canWatch = true;
#else
    constexpr bool canWatch = false;
#endif
    if (watching && !canWatch)
        return usage(QStringLiteral("このシステムでは --watch を使えません。"));
    if (parser.isSet(jobs)) {
        bool ok = false;
        request.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || request.jobs < 0)
            return usage(QStringLiteral("--jobs には 0 以上の整数を指定してください。"));
    }
    if (parser.isSet(save)) {
        for (int m = 0; m < 3; ++m)
            if (parser.value(save) == QString::fromUtf16(SaveWords[m]))
                request.save = tinsoke::saveMethodOf(m);
        if (!request.save)
            return usage(
                QStringLiteral("--save には overwrite、copy、folder のどれかを指定してください。"));
    }
    request.action = watching ? CommandLineRequest::Action::Watch : CommandLineRequest::Action::Run;
    if (parser.isSet(filesFrom))
        request.filesFrom = parser.value(filesFrom);
    request.nullSeparated = parser.isSet(nullSeparated);
    request.dryRun = parser.isSet(dryRun);
    request.quiet = parser.isSet(quiet);
    request.force = parser.isSet(force);
    if (parser.isSet(settings))
        request.settings = parser.value(settings);
    result.request = request;
    return result;
}

QString dryRunText(const tinsoke::RunPlan &plan, const QStringList &files)
{
    QString text;
    for (const QString &f : files)
        text += field(f) + u'\t' + toolsFor(plan, f) + u'\t' +
                saveMethodText(static_cast<int>(plan.saveMethod)) + u'\n' + toolLines(plan, f) +
                originalsLine(plan, f);
    return text;
}
