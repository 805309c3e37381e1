#include "runtexts.h"

#include "executeprocess.h"

#include <QStringList>

#include <map>

namespace tinsoke {

QString reasonText(const RunProblem &p)
{
    using Reason = RunProblem::Reason;
    switch (p.reason) {
    case Reason::WorkFolderFailed:
    case Reason::NotOpened:
        return p.detail; // the file layer's own words say it all
    case Reason::CopyFailed:
        return QStringLiteral("コピーを作成できません（%1）").arg(p.detail);
    case Reason::NotAPicture:
        return p.detail + QStringLiteral("（処理しませんでした）");
    case Reason::StepCopyFailed:
        return QStringLiteral("%1 用のコピーを作成できません（%2）").arg(p.tool, p.detail);
    case Reason::ToolNotStarted:
        return QStringLiteral("%1 を実行できません：%2（%3）")
            .arg(p.tool, startFailureMessage(static_cast<unsigned long>(p.systemError)),
                 qt_error_string(p.systemError));
    case Reason::ToolCrashed:
        return QStringLiteral("%1 が異常終了しました（シグナル %2）")
            .arg(p.tool, QString::number(p.signal));
    case Reason::ToolExitCode:
        return QStringLiteral("%1 がエラーで終了しました（終了コード %2）")
            .arg(p.tool, QString::number(p.exitCode));
    case Reason::NoResult:
        return QStringLiteral("%1 が結果を出力しませんでした").arg(p.tool);
    case Reason::ResultNotRegular:
        return QStringLiteral("%1 の結果が通常のファイルではありません").arg(p.tool);
    case Reason::ResultBroken:
        return QStringLiteral("%1 の結果が壊れた画像でした").arg(p.tool);
    case Reason::PartsNotKept:
        return p.detail.arg(p.tool);
    case Reason::EdgeBlocks:
        return QStringLiteral(
                   "%1 の結果では端の画素を回転・反転できません（切り取りを選んでください）")
            .arg(p.tool);
    case Reason::ResultNotTaken:
        return QStringLiteral("%1 の結果を取り込めません").arg(p.tool);
    case Reason::FramesChanged:
        return QStringLiteral("%1 の結果ではアニメーションのコマが変わりました（%2 → %3 コマ）")
            .arg(p.tool, QString::number(p.framesBefore), QString::number(p.framesAfter));
    case Reason::PixelsChanged:
        return QStringLiteral("%1 の結果は画素が元の画像と異なりました").arg(p.tool);
    case Reason::ColourLost:
        return QStringLiteral("%1 の結果では色の情報（カラープロファイルなど）が失われました")
            .arg(p.tool);
    case Reason::ChangeNotAsAsked:
        return QStringLiteral("%1 の結果は").arg(p.tool) + p.detail;
    case Reason::LastCheckFailed:
        return QStringLiteral("最後の確認で結果が元の画像と合わないため、書き込みませんでした");
    case Reason::FileChangedDuringRun:
        return QStringLiteral("処理中にほかのプログラムが変更したため、結果を書き込みませんでした");
    case Reason::WriteFailed:
        return QStringLiteral("結果を書き込めません（%1）").arg(p.detail);
    case Reason::ResultFolderFailed:
        return QStringLiteral("結果フォルダを作成できません（%1）").arg(p.detail);
    case Reason::TrashFailed:
        return QStringLiteral("元の画像をごみ箱に入れられないため、上書きしませんでした（%1）")
            .arg(p.detail);
    case Reason::NoSaveMethod:
        return QStringLiteral("保存方法が選択されていません");
    }
    return QString();
}

// ---------------------------------------------------------------------------
// The report

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
    // By the words the user reads: two reasons that read alike are one.
    QStringList order;
    std::map<QString, QList<const RunProblem *>> byReason;
    for (const RunProblem &p : problems) {
        const QString reason = reasonText(p);
        auto &list = byReason[reason];
        if (list.isEmpty())
            order.append(reason);
        list.append(&p);
    }
    QString text = heading;
    for (const QString &reason : order) {
        const auto &list = byReason[reason];
        text += QStringLiteral("\n\n%1（%2 件）").arg(reason, QString::number(list.size()));
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

QString folderLeftText(const RunSummary &summary)
{
    if (summary.folderLeft.isEmpty())
        return QString();
    return QStringLiteral("一時フォルダ %1 を削除できませんでした。").arg(summary.folderLeft);
}

namespace {

QString withFolderLeft(QString text, const RunSummary &summary)
{
    const QString left = folderLeftText(summary);
    if (!left.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n\n")) + left;
    return text;
}

} // namespace

QString reportText(const RunSummary &summary)
{
    return withFolderLeft(groupedReport(summary.problems, true), summary);
}

SplitReport splitReport(const RunSummary &summary)
{
    SplitReport report{withFolderLeft(groupedReport(summary.problems, false), summary), QString()};
    QStringList outputs;
    for (const RunProblem &p : summary.problems) {
        if (!p.output.trimmed().isEmpty())
            outputs.append(p.path + u'\n' + reasonText(p) + u'\n' + p.output.trimmed());
    }
    report.details = outputs.join(QStringLiteral("\n\n"));
    return report;
}

// ---------------------------------------------------------------------------
// The status bar

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
    if (summary.remembered > 0)
        text += QStringLiteral("　うち %1 件は記憶済み").arg(summary.remembered);
    if (summary.passedOver > 0)
        text += QStringLiteral("　%1 件は処理できませんでした").arg(summary.passedOver);
    if (summary.stopped)
        text += QStringLiteral("　中止しました");
    return text;
}

} // namespace tinsoke
