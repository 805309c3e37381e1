// The command line's words as data: what each asks for, or the usage error
// it makes, before anything is read or started; and a dry run's text.
#include "commandlineparse.h"

#include <QtTest>

using Action = CommandLineRequest::Action;

namespace {

QStringList w(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *word : words)
        list << QString::fromUtf8(word);
    return list;
}

} // namespace

class CommandLineParseTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void words_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("error"); // empty: a request
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("save"); // -2 none given
        QTest::addColumn<QStringList>("paths");
        const QStringList none;
        QTest::newRow("run") << w({"--run", "a.png", "dir"}) << QString() << int(Action::Run) << -1
                             << -2 << w({"a.png", "dir"});
        QTest::newRow("every option")
            << w({"--run", "--jobs", "3", "--save", "folder", "--quiet", "--force", "--", "-x.png"})
            << QString() << int(Action::Run) << 3 << 2 << w({"-x.png"});
        QTest::newRow("files from alone") << w({"--run", "--files-from", "-", "--null"})
                                          << QString() << int(Action::Run) << -1 << -2 << none;
        QTest::newRow("help") << w({"--help", "--bogus-after"})
                              << QStringLiteral("Unknown option 'bogus-after'.") << 0 << -1 << -2
                              << none;
        QTest::newRow("version") << w({"-v"}) << QString() << int(Action::Version) << -1 << -2
                                 << none;
        QTest::newRow("no mode") << w({"a.png"})
                                 << QStringLiteral("--run か --watch がありません。") << 0 << -1
                                 << -2 << none;
        QTest::newRow("both modes")
            << w({"--run", "--watch", "d"})
            << QStringLiteral("--run と --watch は一緒に使えません。") << 0 << -1 << -2 << none;
        QTest::newRow("watch dry")
            << w({"--watch", "--dry-run", "d"})
            << QStringLiteral("--watch は --dry-run、--files-from と使えません。") << 0 << -1 << -2
            << none;
        QTest::newRow("null alone")
            << w({"--run", "--null", "a.png"})
            << QStringLiteral("--null は --files-from と使います。") << 0 << -1 << -2 << none;
        QTest::newRow("nothing") << w({"--run"})
                                 << QStringLiteral("処理するファイルかフォルダを指定してください。")
                                 << 0 << -1 << -2 << none;
        for (const char *jobs : {"-1", "two", ""})
            QTest::newRow(qPrintable(QStringLiteral("jobs %1").arg(QString::fromUtf8(jobs))))
                << w({"--run", "--jobs", jobs, "a.png"})
                << QStringLiteral("--jobs には 0 以上の整数を指定してください。") << 0 << -1 << -2
                << none;
        QTest::newRow("save word")
            << w({"--run", "--save", "Overwrite", "a.png"})
            << QStringLiteral("--save には overwrite、copy、folder のどれかを指定してください。")
            << 0 << -1 << -2 << none;
        QTest::newRow("revert last run")
            << w({"--revert"}) << QString() << int(Action::Revert) << -1 << -2 << none;
        QTest::newRow("revert named")
            << w({"--revert", "--quiet", "--settings", "s.ini", "a.png"}) << QString()
            << int(Action::Revert) << -1 << -2 << QStringList{QStringLiteral("a.png")};
        QTest::newRow("revert and run")
            << w({"--revert", "--run", "a.png"})
            << QStringLiteral("--revert は --run、--watch と一緒に使えません。") << 0 << -1 << -2
            << none;
        QTest::newRow("revert dry")
            << w({"--revert", "--dry-run"})
            << QStringLiteral("--revert と一緒に使えるのは --settings と --quiet だけです。") << 0
            << -1 << -2 << none;
        QTest::newRow("unknown") << w({"--run", "--fast", "a.png"})
                                 << QStringLiteral("Unknown option 'fast'.") << 0 << -1 << -2
                                 << none;
    }

    void words()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, error);
        const CommandLineParse parsed =
            parseCommandLine(QStringList{QStringLiteral("pelmora-tinsoke")} + words);
        QCOMPARE(parsed.usageError, error);
        QCOMPARE(parsed.request.has_value(), error.isEmpty());
        if (!parsed.request)
            return;
        QFETCH(int, action);
        QFETCH(int, jobs);
        QFETCH(int, save);
        QFETCH(QStringList, paths);
        QCOMPARE(int(parsed.request->action), action);
        QCOMPARE(parsed.request->jobs, jobs);
        QCOMPARE(parsed.request->save ? int(*parsed.request->save) : -2, save);
        QCOMPARE(parsed.request->paths, paths);
        QCOMPARE(parsed.request->filesFrom.has_value(),
                 words.contains(QStringLiteral("--files-from")));
    }

    // Each step of each kind's chain with its program and arguments, the
    // user's tool after the built-in ones; a file of no kind gets none.
    void dryRunShowsEachStep()
    {
        tinsoke::RunPlan plan;
        plan.saveMethod = tinsoke::SaveMethod::CopyBeside;
        plan.tools.at(std::size_t(tinsoke::Tool::OptiPNG)) =
            tinsoke::toolPlan(tinsoke::Tool::OptiPNG, true, QStringLiteral("/usr/bin/optipng"),
                              {QStringLiteral("-o2")});
        tinsoke::ExtraToolPlan own;
        own.name = QStringLiteral("mine");
        own.plan.use = true;
        own.plan.program = QStringLiteral("/opt/my tool");
        own.plan.words = {QStringLiteral("{in}"), QStringLiteral("--to={out}")};
        plan.extras = {own};
        const QString text =
            dryRunText(plan, {QStringLiteral("/p/a.png"), QStringLiteral("/p/b.jpg"),
                              QStringLiteral("/p/c.gif")});
        QCOMPARE(text, QStringLiteral("/p/a.png\tOptiPNG,mine\tcopy（別名で保存）\n"
                                      "  OptiPNG\t/usr/bin/optipng -o2 {コピー}\n"
                                      "  mine\t'/opt/my tool' {コピー} --to={出力}\n"
                                      "/p/b.jpg\t-\tcopy（別名で保存）\n"
                                      "/p/c.gif\t-\tcopy（別名で保存）\n"));
    }
};

QTEST_GUILESS_MAIN(CommandLineParseTest)
#include "commandlineparse_test.moc"
