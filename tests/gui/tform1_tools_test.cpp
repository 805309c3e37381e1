// The window's side of running tools: option strings from the pages'
// controls, and a start failure shown over the window.
#include "executeprocess.h"
#include "freshform.h"
#include "messages.h"
#include "programstyle.h"
#include "radiogroup.h"
#include "tform1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include <memory>

class TForm1ToolsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshForm> fresh;
    TForm1 *form = nullptr;

    template <typename T = QWidget> T *find(const char *name) { return fresh->find<T>(name); }
    void showPage(const char *name)
    {
        auto *pages = find<QTabWidget>("PageControl1");
        pages->setCurrentWidget(find(name));
    }
    void click(const char *name) { QTest::mouseClick(find(name), Qt::LeftButton); }
    // The words of a text with single blanks between them.
    static QStringList words(const QString &text) { return text.split(u' ', Qt::SkipEmptyParts); }
    void pickItem(const char *group, int index)
    {
        QTest::mouseClick(find<RadioGroup>(group)->button(index), Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void init()
    {
        fresh = std::make_unique<FreshForm>();
        form = fresh->get();
        QVERIFY(fresh->showAndWait());
    }
    void cleanup()
    {
        fresh.reset();
        messages::setHook({});
    }

    void firstStartGivesTheDefaultOptions()
    {
        QCOMPARE(form->toolOptions(tinsoke::Tool::Jpegtran),
                 words(QStringLiteral("-copy none -verbose")));
        QCOMPARE(form->toolOptions(tinsoke::Tool::Jpegoptim), words(QStringLiteral("-v -p ")));
        QCOMPARE(form->toolOptions(tinsoke::Tool::AdvPNG), words(QStringLiteral("-z -2")));
        QCOMPARE(form->toolOptions(tinsoke::Tool::OptiPNG), words(QStringLiteral("-o2")));
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGCrush),
                 words(QStringLiteral("-rem alla -l 9")));
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGOUT), QStringList());
    }

    void optionsFollowWhatTheUserSets()
    {
        showPage("TabSheet_Jpegtran");
        click("CheckBox_Jpegtran_Optimize");
        click("CheckBox_Jpegtran_Trim");
        pickItem("RadioGroup2", 1);
        pickItem("RadioGroup3", 6);
        QCOMPARE(form->toolOptions(tinsoke::Tool::Jpegtran),
                 words(QStringLiteral("-optimize -trim -copy comments -transpose -verbose")));

        showPage("TabSheet_Jpegoptim");
        pickItem("RadioGroup6", 2);
        QCOMPARE(form->toolOptions(tinsoke::Tool::Jpegoptim),
                 words(QStringLiteral("-v -p "))); // strip not ticked
        click("CheckBox_Jpegoptim_Strip");
        QCOMPARE(form->toolOptions(tinsoke::Tool::Jpegoptim),
                 words(QStringLiteral("--strip-exif -v -p ")));

        showPage("TabSheet_AdvPNG");
        auto *advBar = find<QScrollBar>("ScrollBar_AdvPNG");
        advBar->setFocus();
        QTest::keyClick(advBar, Qt::Key_Home);
        QCOMPARE(form->toolOptions(tinsoke::Tool::AdvPNG), words(QStringLiteral("-z -0")));

        showPage("TabSheet_OptiPNG");
        auto *optiBar = find<QScrollBar>("ScrollBar1");
        optiBar->setFocus();
        QTest::keyClick(optiBar, Qt::Key_Right);
        QCOMPARE(form->toolOptions(tinsoke::Tool::OptiPNG), words(QStringLiteral("-o3")));
        click("CheckBox_OptiPNGCommand"); // the box becomes writable
        QTest::keyClicks(find("Edit_OptiPNGParam"), QStringLiteral("-o7 -fix "));
        QCOMPARE(form->toolOptions(tinsoke::Tool::OptiPNG), words(QStringLiteral("-o7 -fix ")));
        click("CheckBox_OptiPNGCommand");
        QCOMPARE(form->toolOptions(tinsoke::Tool::OptiPNG),
                 words(QStringLiteral("-o3"))); // typed text kept, unused

        showPage("TabSheet_PNGCrush");
        find<QLineEdit>("Edit_PNGCrushParam")->setText(QStringLiteral("-brute"));
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGCrush),
                 words(QStringLiteral("-rem alla -l 9")));
        click("CheckBox_PNGCrushCommand");
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGCrush), words(QStringLiteral("-brute")));
        find<QLineEdit>("Edit_PNGCrushParam")->clear();
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGCrush), QStringList());

        showPage("TabSheet_PNGOUT");
        find<QLineEdit>("Edit_PNGOUTParam")->setText(QStringLiteral("/y"));
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGOUT), QStringList());
        click("CheckBox_PNGOUTCommand");
        QCOMPARE(form->toolOptions(tinsoke::Tool::PNGOUT), words(QStringLiteral("/y")));
    }
};

QTEST_MAIN(TForm1ToolsTest)
#include "tform1_tools_test.moc"
