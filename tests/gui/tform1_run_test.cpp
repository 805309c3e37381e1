// The run button in the window: the window goes on while tools run, the list
// holds still, closing stops the run; a finished run sums itself up and
// tells its problems once.
#include "drops.h"
#include "filelistmodel.h"
#include "freshform.h"
#include "messages.h"
#include "pictures.h"
#include "programstyle.h"
#include "stopsignals.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class TForm1RunTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    QString path(const char *name) const { return files.filePath(QString::fromLatin1(name)); }

    static QByteArray settingsFor(const QByteArray &tools, int jobs = 0)
    {
        return "[Option]\r\nSaveMode=0\r\nJobs=" + QByteArray::number(jobs) + "\r\n" + tools;
    }

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void cleanup() { messages::setHook({}); }

    // While slow tools run: a second run, drops, clearing, Delete and
    // sorting change nothing. 中止, closing the window and SIGTERM each end
    // every tool at once and leave each file as it was; the last two close.
    void theListHoldsStillAndARunStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop button") << QStringLiteral("stop");
        QTest::newRow("close") << QStringLiteral("close");
        QTest::newRow("SIGTERM") << QStringLiteral("signal");
    }
    void theListHoldsStillAndARunStops()
    {
        QFETCH(QString, how);
        const QString marker =
            QStringLiteral("tinsoke-gui-slow-%1").arg(QCoreApplication::applicationPid());
        const QString tool = fakeTool(files.path(), marker, "sleep 30");
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nPath=" + tool.toUtf8() + "\r\n", 2)};
        TForm1 *form = fresh.get();
        QVERIFY(fresh.showAndWait());
        auto *list = fresh.find<QTableView>("ListView1");
        QStringList images;
        for (const char *name : {"c.png", "a.png", "b.png"}) {
            images << path(name);
            QVERIFY(savePicture(makePicture(80, 60), images.last()));
        }
        const QByteArray before = bytesOf(images.first());
        dropFiles(list->viewport(), images);
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QVERIFY(form->runInProgress());
        QVERIFY(fresh.find("Button_Stop")->isEnabled());
        QCOMPARE(fresh.find<QLabel>("Label_Status")->text(), QStringLiteral("0 / 3 件"));

        QTest::qWait(300);
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton); // a second run
        dropFiles(list->viewport(), {path("late.png")});
        QTest::mouseClick(fresh.find("Button3"), Qt::LeftButton); // clear
        list->selectAll();
        QTest::keyRelease(list, Qt::Key_Delete);
        QHeaderView *header = list->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(form->fileList().rowCount(), 3);
        for (int r = 0; r < 3; ++r)
            QCOMPARE(form->fileList().ReadRow(r).Path, images.at(r));

        // As the program's entry wires it.
        tinsoke::StopSignals stopSignals;
        connect(&stopSignals, &tinsoke::StopSignals::received, form, [form] {
            form->stopRun();
            form->close();
        });
        QElapsedTimer clock;
        clock.start();
        if (how == u"stop")
            QTest::mouseClick(fresh.find("Button_Stop"), Qt::LeftButton);
        else if (how == u"close")
            form->close(); // asks nothing
        else
            ::kill(::getpid(), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!form->runInProgress(), 1500);
        QCOMPARE(form->isVisible(), how == u"stop");
        QVERIFY(clock.elapsed() < 1500);
        QVERIFY(!toolsRunning(marker));
        QCOMPARE(bytesOf(images.first()), before);
        QVERIFY(form->fileList()
                    .ReadRow(0)
                    .field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column)
                    .isEmpty());
    }

    // The pages decide which tools are there, but during a run 実行 stays
    // off whichever page is shown, and a click on it leaves the progress as
    // it is; after the run it is on again.
    void theRunButtonStaysOffOnEveryPage()
    {
        messages::setHook([](QWidget *, const QString &, const QString &, QMessageBox::Icon) {});
        const QString tool = fakeTool(files.path(), QStringLiteral("slow-second"), "sleep 1");
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nPath=" + tool.toUtf8() + "\r\n")};
        QVERIFY(fresh.showAndWait());
        const QStringList images{path("p1.png"), path("p2.png")};
        for (const QString &image : images)
            QVERIFY(savePicture(makePicture(40, 30), image));
        dropFiles(fresh.find<QTableView>("ListView1")->viewport(), images);
        QWidget *run = fresh.find("Button1");
        QTest::mouseClick(run, Qt::LeftButton);
        QVERIFY(fresh->runInProgress());

        auto *pages = fresh.find<QTabWidget>("PageControl1");
        QTabBar *tabs = pages->tabBar();
        const int common = pages->indexOf(fresh.find("TabSheet_Common"));
        for (const int page : {pages->indexOf(fresh.find("TabSheet_OptiPNG")), common,
                               pages->indexOf(fresh.find("TabSheet_Version")), common}) {
            QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(page).center());
            QCOMPARE(pages->currentIndex(), page);
            QVERIFY(!run->isEnabled());
            QVERIFY(!fresh.find("Button3")->isEnabled());
        }
        auto *bar = fresh.find<QProgressBar>("RunProgress");
        QCOMPARE(bar->maximum(), 2);
        QTest::mouseClick(run, Qt::LeftButton);
        QCOMPARE(bar->maximum(), 2);
        QVERIFY(fresh->runInProgress());

        QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 15000);
        QVERIFY(run->isEnabled());
        QVERIFY(fresh.find("Button3")->isEnabled());
        QVERIFY(!fresh.find("Button_Stop")->isEnabled());
    }

    // A tool that fails with words: the box groups the files by reason, and
    // what the tool printed is under 詳細, not in the text.
    void theToolsWordsAreUnderDetails()
    {
        const QString tool = fakeTool(files.path(), QStringLiteral("says-no"),
                                      "echo \"cannot read $1\" >&2; exit 3");
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nPath=" + tool.toUtf8() + "\r\n")};
        QVERIFY(fresh.showAndWait());
        QVERIFY(savePicture(makePicture(40, 30), path("no.png")));
        dropFiles(fresh.find<QTableView>("ListView1")->viewport(), {path("no.png")});
        QString text, details;
        QTimer answer; // the real box, answered as a person would
        connect(&answer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                details = box->detailedText();
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
        });
        answer.start(20);
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 15000);
        QVERIFY2(text.startsWith(QStringLiteral("処理できなかったファイルがあります。")) &&
                     text.contains(QStringLiteral("（1 件）")) && !text.contains(u"cannot read"),
                 qPrintable(text));
        QVERIFY2(details.contains(path("no.png")) && details.contains(u"cannot read"),
                 qPrintable(details));
    }

    // Ten files with a real optimizer and a tool that cannot start: the
    // columns fill, the status bar sums up, and one box tells the problem once.
    void aFinishedRunSumsUpAndTellsOnce()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        QStringList shown;
        messages::setHook([&](QWidget *, const QString &, const QString &text, QMessageBox::Icon) {
            shown.append(text);
        });
        // Executable, but no program: the system refuses to start it.
        const QString broken = path("broken-tool");
        writeBytes(broken, QByteArray(64, '\x01'));
        QFile::setPermissions(broken, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
                                    "OptimizeLevel=1\r\n[PNGCrush]\r\nUse=Yes\r\nPath=" +
                                    broken.toUtf8() + "\r\n")};
        QVERIFY(fresh.showAndWait());
        QStringList images;
        for (int i = 0; i < 10; ++i) {
            images << files.filePath(QStringLiteral("sum/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(160, 120, i), images.last()));
        }
        dropFiles(fresh.find<QTableView>("ListView1")->viewport(), images);
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 60000);

        const tinsoke::TLVData row = fresh->fileList().ReadRow(0);
        QVERIFY(row.field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column).toLongLong() <
                row.Size.toLongLong());
        QVERIFY(row.field(tinsoke::toolInfo(tinsoke::Tool::PNGCrush).column)
                    .isEmpty()); // never started: no size
        const QString status = fresh.find<QLabel>("Label_Status")->text();
        QVERIFY2(status.startsWith(QStringLiteral("10 件　")) &&
                     status.contains(QStringLiteral("（−")),
                 qPrintable(status));
        auto *bar = fresh.find<QProgressBar>("RunProgress");
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(
                     QStringLiteral("PNGCrush を実行できません：実行できません (8)")) &&
                     shown.first().contains(QStringLiteral("（10 件）")),
                 qPrintable(shown.first()));
        QVERIFY(fresh.find("Button1")->isEnabled());
        QVERIFY(!fresh.find("Button_Stop")->isEnabled());
    }

    // 実行 twice starts the tools once per file, and so does a later start of
    // the program; 記憶済みも処理する has them start again, for one run.
    void aSecondRunRemembersFinishedFiles()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        const QString record = path("memory-starts");
        const QString tool =
            fakeTool(files.filePath(QStringLiteral("memory-tools")), QStringLiteral("optipng"),
                     "echo x >> '" + QFile::encodeName(record) + "'\nexec /usr/bin/optipng \"$@\"");
        const auto starts = [&] {
            const int n = int(bytesOf(record).count('\n'));
            QFile::remove(record);
            return n;
        };
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nUseParam=No\r\nOptimizeLevel=1\r\n"
                                    "Path=" +
                                    tool.toUtf8() + "\r\n")};
        QStringList images;
        for (int i = 0; i < 3; ++i) {
            images << files.filePath(QStringLiteral("memory/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(120, 90, 40 + i), images.last()));
        }
        const auto run = [&] {
            QVERIFY(fresh.showAndWait());
            if (fresh->fileList().rowCount() == 0)
                dropFiles(fresh.find<QTableView>("ListView1")->viewport(), images);
            QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 60000);
        };
        run();
        QCOMPARE(starts(), 3);
        run();
        QCOMPARE(starts(), 0);
        QCOMPARE(
            fresh->fileList().ReadRow(0).field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column),
            QStringLiteral("記憶済み"));
        const QString status = fresh.find<QLabel>("Label_Status")->text();
        QVERIFY2(status.contains(QStringLiteral("うち 3 件は記憶済み")), qPrintable(status));

        auto *force = fresh.find<QCheckBox>("CheckBox_Force");
        QTest::mouseClick(force, Qt::LeftButton);
        QVERIFY(force->isChecked());
        run();
        QCOMPARE(starts(), 3);
        QVERIFY(!force->isChecked()); // for that run only

        fresh.form = std::make_unique<TForm1>(fresh.iniPath()); // a later start
        run();
        QCOMPARE(starts(), 0);
    }

    // 上書き保存 with the originals to the Trash: after a run 元に戻す is on,
    // and so it is in a later start over the same settings; clicking it gives
    // back each original byte for byte, leaves a file edited since as it is
    // and tells it, and goes off once nothing is left to give back.
    void revertGivesBackOriginalsButNotAnEditedFile()
    {
        if (realTool("optipng").isEmpty())
            QSKIP("optipng is not installed");
        // The home Trash, on the pictures' file system.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("revert-data")));
        const auto restore = qScopeGuard([&] {
            if (dataHome.isNull())
                qunsetenv("XDG_DATA_HOME");
            else
                qputenv("XDG_DATA_HOME", dataHome);
        });
        QStringList shown;
        messages::setHook([&](QWidget *, const QString &, const QString &text, QMessageBox::Icon) {
            shown.append(text);
        });
        FreshForm fresh{settingsFor("Originals=Trash\r\n[OptiPNG]\r\nUse=Yes\r\n"
                                    "Path=/usr/bin/optipng\r\nOptimizeLevel=1\r\n")};
        QVERIFY(fresh.showAndWait());
        QVERIFY(fresh.find<QCheckBox>("CheckBox_Trash")->isChecked());
        QVERIFY(!fresh.find("Button_Revert")->isEnabled()); // nothing to give back yet
        QStringList images;
        QList<QByteArray> originals;
        for (int i = 0; i < 3; ++i) {
            images << files.filePath(QStringLiteral("revert/%1.png").arg(i));
            QVERIFY(savePicture(makePicture(120, 90, 60 + i), images.last()));
            originals << bytesOf(images.last());
        }
        dropFiles(fresh.find<QTableView>("ListView1")->viewport(), images);
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 60000);
        for (int i = 0; i < 3; ++i)
            QVERIFY(bytesOf(images.at(i)).size() < originals.at(i).size());
        QVERIFY(fresh.find("Button_Revert")->isEnabled());
        const QByteArray written = bytesOf(images.at(2));
        const QByteArray edited = written + "edited";
        writeBytes(images.at(2), edited);

        fresh.form = std::make_unique<TForm1>(fresh.iniPath()); // a later start
        QVERIFY(fresh.showAndWait());
        auto *revert = fresh.find("Button_Revert");
        QVERIFY(revert->isEnabled());
        shown.clear();
        QTest::mouseClick(revert, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 30000);
        QCOMPARE(bytesOf(images.at(0)), originals.at(0));
        QCOMPARE(bytesOf(images.at(1)), originals.at(1));
        QCOMPARE(bytesOf(images.at(2)), edited);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(QStringLiteral("2 個のファイルを元に戻しました")) &&
                     shown.first().contains(images.at(2)) && !shown.first().contains(images.at(0)),
                 qPrintable(shown.first()));
        // The way back for the edited file stays: with the run's bytes again
        // it is given back too, and 元に戻す has nothing left.
        QVERIFY(revert->isEnabled());
        writeBytes(images.at(2), written);
        QTest::mouseClick(revert, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh->runInProgress(), 30000);
        QCOMPARE(bytesOf(images.at(2)), originals.at(2));
        QCOMPARE(shown.size(), 1); // all given back: nothing to tell
        QVERIFY(!revert->isEnabled());
    }

    // A tool of the user's own, taken from the ready ones on its page:
    // zopflipng after OptiPNG. Its column, headed by its name, shows its
    // size; moving and unticking it change its place and use; the settings
    // file keeps it.
    void usersOwnToolHasItsColumnAndIsKept()
    {
        const QString zopflipng = QStringLiteral("/usr/bin/zopflipng");
        if (!QFileInfo::exists(zopflipng) || !QFileInfo::exists(QStringLiteral("/usr/bin/optipng")))
            QSKIP("zopflipng and optipng are not installed");
        FreshForm fresh{settingsFor("[OptiPNG]\r\nUse=Yes\r\nPath=/usr/bin/optipng\r\n"
                                    "OptimizeLevel=1\r\nUseParam=No\r\n")};
        QVERIFY(fresh.showAndWait());
        auto *pages = fresh.find<QTabWidget>("PageControl1");
        auto *page = fresh.find("TabSheet_ExtraTools");
        pages->tabBar()->setCurrentIndex(pages->indexOf(page));
        auto *presets = fresh.find<QComboBox>("ComboBox_ExtraPreset");
        QVERIFY(presets->findText(QStringLiteral("zopflipng")) >= 0);
        presets->setCurrentIndex(presets->findText(QStringLiteral("zopflipng")));
        QTest::mouseClick(fresh.find("Button_ExtraPreset"), Qt::LeftButton);
        QTest::mouseClick(fresh.find("Button_ExtraAdd"), Qt::LeftButton); // a second, moved up
        QTest::mouseClick(fresh.find("Button_ExtraUp"), Qt::LeftButton);
        auto *tools = fresh.find<QTableWidget>("ListView_ExtraTools");
        QCOMPARE(tools->item(1, 1)->text(), QStringLiteral("zopflipng"));
        tools->item(0, 0)->setCheckState(Qt::Unchecked); // the new one stays off
        auto *list = fresh.find<QTableView>("ListView1");
        QCOMPARE(list->model()->headerData(12, Qt::Horizontal).toString(),
                 QStringLiteral("zopflipng"));

        const QString png = path("own.png");
        QVERIFY(savePicture(makePicture(200, 150, 7), png));
        dropFiles(list->viewport(), {png});
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fresh.get()->runInProgress(), 60000);
        const tinsoke::TLVData row = fresh.get()->fileList().ReadRow(0);
        QVERIFY(!row.field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column).isEmpty());
        QCOMPARE(row.field(11), QString()); // unticked: it did not run
        QVERIFY2(!row.field(12).isEmpty() &&
                     row.field(12).toLongLong() <
                         row.field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column).toLongLong(),
                 qPrintable(row.field(12) + u' ' +
                            row.field(tinsoke::toolInfo(tinsoke::Tool::OptiPNG).column)));
        QCOMPARE(QFileInfo(png).size(), row.field(12).toLongLong());

        const QByteArray saved = fresh.closeAndRead();
        QVERIFY2(saved.contains("[ExtraTool2]\r\nUse=Yes\r\nName=zopflipng\r\nKind=PNG\r\n"),
                 saved.constData());
        QVERIFY(saved.contains("[ExtraTool1]\r\nUse=No\r\n"));
    }
};

QTEST_MAIN(TForm1RunTest)
#include "tform1_run_test.moc"
