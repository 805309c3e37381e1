// What the window does as it starts, and the two mechanisms every run uses:
// the progress bar and the close request that waits for the run's end.
#include "freshform.h"
#include "programstyle.h"
#include "radiogroup.h"
#include "tform1.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <memory>

class TForm1StartupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshForm> fresh;
    TForm1 *form = nullptr;

    template <typename T = QWidget> T *find(const char *name) { return fresh->find<T>(name); }
    QProgressBar *bar() { return find<QProgressBar>("RunProgress"); }

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void init()
    {
        fresh = std::make_unique<FreshForm>();
        form = fresh->get();
        QVERIFY(fresh->showAndWait());
    }
    void cleanup() { fresh.reset(); }

    void settingsFileSitsBesideTheExecutable()
    {
        // This test program has no extension, so ".ini" is appended.
        const QFileInfo exe(QCoreApplication::applicationFilePath());
        const QString expected = exe.absolutePath() + QStringLiteral("/tform1_startup_test.ini");
        QFile::remove(expected);
        {
            TForm1 besideTheProgram;
            QCOMPARE(besideTheProgram.iniFilePath(), expected);
            QVERIFY(QFileInfo::exists(expected));
        }
        QVERIFY(QFile::remove(expected));
    }

    void progressBarStandsInTheStatusBar()
    {
        auto *status = find<QStatusBar>("StatusBar1");
        QCOMPARE(status->geometry(), QRect(0, 434, 632, 19));
        QVERIFY(bar());
        QCOMPARE(bar()->parentWidget(), status);
        QCOMPARE(bar()->geometry(), QRect(0, 2, 150, 17));
        QVERIFY(bar()->isVisible());
        QCOMPARE(bar()->minimum(), 0);
        QCOMPARE(bar()->maximum(), 100);
        QCOMPARE(bar()->value(), 0);
    }

    void donationRequestIsTwoLines()
    {
        auto *message = find<QLabel>("Label_Message");
        QCOMPARE(message->text(),
                 QStringLiteral("「Pelmora Tinsoke」はカンパウェアです。\r\n"
                                "気に入っていただけましたら開発継続のため寄付をお願いします。"));
        QCOMPARE(message->pos(), QPoint(60, 98));
        QVERIFY(message->height() >= 2 * message->fontMetrics().height());
        QVERIFY(message->width() >= message->sizeHint().width());
    }

    void resultFolderChoiceIsGreyedButStillShowsWhenStored()
    {
        auto *group = find<RadioGroup>("RadioGroup1");
        QVERIFY(group->isEnabled());
        QVERIFY(group->button(0)->isEnabled());
        QVERIFY(group->button(1)->isEnabled());
        QVERIFY(!group->button(2)->isEnabled());
        QVERIFY(group->button(2)->isVisible());

        // A click on the greyed item changes nothing; the others can be chosen.
        QCOMPARE(group->itemIndex(), 0);
        QTest::mouseClick(group->button(2), Qt::LeftButton);
        QCOMPARE(group->itemIndex(), 0);
        QTest::mouseClick(group->button(1), Qt::LeftButton);
        QCOMPARE(group->itemIndex(), 1);

        // The program itself can still select it, as a stored setting does.
        group->setItemIndex(2);
        QCOMPARE(group->itemIndex(), 2);
        QVERIFY(group->button(2)->isChecked());
        QTest::mouseClick(group->button(1), Qt::LeftButton);
        QCOMPARE(group->itemIndex(), 1);
    }

    void pictureConversionGroupsNeverShow()
    {
        for (const char *name : {"RadioGroup4", "RadioGroup5"}) {
            QVERIFY(find(name)->isHidden());
            QVERIFY(!find(name)->isVisible());
        }
        // Not even when their page is shown again.
        auto *pages = find<QTabWidget>("PageControl1");
        pages->setCurrentIndex(8);
        pages->setCurrentIndex(0);
        QVERIFY(!find("RadioGroup4")->isVisible());
        QVERIFY(!find("RadioGroup5")->isVisible());
    }

    void showProgressSetsRangeThenPosition_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("position");
        QTest::newRow("clear list") << 0 << 0 << 0;
        QTest::newRow("run start") << 0 << 3 << 0;
        QTest::newRow("row 2 of 3") << 0 << 3 << 2;
        QTest::newRow("run end") << 0 << 1 << 1;
        QTest::newRow("100000 rows") << 0 << 100000 << 99999;
    }
    void showProgressSetsRangeThenPosition()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, position);
        form->ShowProgress(0, 50, 40); // a position the new range must replace
        form->ShowProgress(minimum, maximum, position);
        QCOMPARE(bar()->minimum(), minimum);
        QCOMPARE(bar()->maximum(), maximum);
        QCOMPARE(bar()->value(), position);
    }

    // The run is driven by the window's own loop: moving the bar never
    // handles events behind the caller's back.
    void showProgressHandlesNoEvents()
    {
        bool eventRan = false;
        QTimer::singleShot(0, form, [&] { eventRan = true; });
        form->ShowProgress(0, 10, 7);
        QVERIFY(!eventRan);
        QCOMPARE(bar()->value(), 7);
    }

    void emptyRangeShowsAnEmptyBarNotABusyOne()
    {
        form->ShowProgress(0, 1, 0);
        const QImage empty = bar()->grab().toImage();
        form->ShowProgress(0, 1, 1);
        const QImage full = bar()->grab().toImage();
        QVERIFY(empty != full);
        form->ShowProgress(0, 0, 0);
        QTest::qWait(50); // a busy bar would have moved by now
        QCOMPARE(bar()->grab().toImage(), empty);
    }

    void closeDuringARunWaitsForItsEnd()
    {
        QVERIFY(form->beginRun());
        QVERIFY(!form->beginRun()); // no second run while one is in progress
        QVERIFY(form->runInProgress());

        form->close();
        QCoreApplication::processEvents();
        QVERIFY(form->isVisible());

        form->endRun();
        QVERIFY(!form->runInProgress());
        QVERIFY(!form->isVisible());
        QVERIFY(form->beginRun()); // and the next run may start
        form->endRun();
        QVERIFY(!fresh->closeAndRead().isEmpty()); // and ends as at exit, saving
    }
};

QTEST_MAIN(TForm1StartupTest)
#include "tform1_startup_test.moc"
