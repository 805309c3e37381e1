#include "runtexts.h"

#include <QSet>

#include <utility>

#include <gtest/gtest.h>

using namespace tinsoke;

// Every reason reads as words of its own with all its arguments filled in,
// but for the two whose words are the file layer's alone; the report puts
// problems that read alike under one line, with their count and files.
TEST(RunTexts, EveryReasonHasWordsOfItsOwnAndTheReportGroupsByThem)
{
    using Reason = RunProblem::Reason;
    const QString detail = QStringLiteral("下の層の言葉");
    QSet<QString> seen;
    for (int i = 0; i < RunProblemReasonCount; ++i) {
        RunProblem p;
        p.reason = static_cast<Reason>(i);
        p.tool = QStringLiteral("tool");
        // The picture layer words its put-back reasons with a place for the tool.
        p.detail = p.reason == Reason::PartsNotKept
                       ? QStringLiteral("%1 の結果では画像の後に続くデータが失われました")
                       : detail;
        p.systemError = 2;
        p.exitCode = 3;
        p.signal = 9;
        p.framesBefore = 4;
        p.framesAfter = 1;
        const QString text = reasonText(p);
        SCOPED_TRACE(i);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(u'%')) << text.toStdString();
        if (p.reason == Reason::WorkFolderFailed || p.reason == Reason::NotOpened) {
            EXPECT_EQ(text, detail);
            continue;
        }
        EXPECT_NE(text, detail);
        EXPECT_FALSE(seen.contains(text)) << text.toStdString();
        seen.insert(text);
    }

    RunSummary summary;
    for (const auto &[path, code] : {std::pair(u"/a.png", 3), {u"/b.png", 4}, {u"/c.png", 3}}) {
        RunProblem p;
        p.reason = Reason::ToolExitCode;
        p.path = QString::fromUtf16(path);
        p.tool = QStringLiteral("optipng");
        p.exitCode = code;
        summary.problems.append(p);
    }
    EXPECT_EQ(reportText(summary),
              QStringLiteral(
                  "処理できなかったファイルがあります。\n\n"
                  "optipng がエラーで終了しました（終了コード 3）（2 件）\n　/a.png\n　/c.png\n\n"
                  "optipng がエラーで終了しました（終了コード 4）（1 件）\n　/b.png"));
}
