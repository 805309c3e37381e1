// The tool pages and the about page, driven as a user would: drops onto the
// path boxes, browsing, switching pages, ticking and moving the level bars.
#include "drops.h"
#include "freshform.h"
#include "programstyle.h"
#include "tform1.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include <memory>

namespace {

const char *const PathBoxes[] = {"Edit_Jpegtran",   "Edit_Jpegoptim", "Edit_AdvPNG",
                                 "Edit_OptiPNG",    "Edit_PNGCrush",  "Edit_PNGOUT",
                                 "Edit_PNGRewrite", "Edit_cPNGC"};
const char *const Ticks[] = {"CheckBox_Jpegtran",   "CheckBox_Jpegoptim", "CheckBox_AdvPNG",
                             "CheckBox_OptiPNG",    "CheckBox_PNGCrush",  "CheckBox_PNGOUT",
                             "CheckBox_PNGRewrite", "CheckBox_cPNGC"};

QString makeFile(const QString &path, bool executable)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n");
    f.close();
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        p |= QFile::ExeOwner;
    f.setPermissions(p);
    return path;
}

} // namespace

class TForm1PagesTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    std::unique_ptr<FreshForm> fresh;

    template <typename T = QWidget> T *find(const char *name) { return fresh->find<T>(name); }
    void start(std::optional<QByteArray> settings = std::nullopt)
    {
        fresh = std::make_unique<FreshForm>(settings);
        QVERIFY(fresh->showAndWait());
    }
    void showPage(const char *name)
    {
        find<QTabWidget>("PageControl1")->setCurrentWidget(find(name));
    }
    QString file(const char *name) const { return files.filePath(QString::fromUtf8(name)); }

public Q_SLOTS:
    void openUrl(const QUrl &url) { openedLinks.append(url.toString()); }

private:
    QStringList openedLinks;

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void cleanup() { fresh.reset(); }

    void droppedExecutableFillsOnlyItsOwnBox()
    {
        start();
        const QString capitals = makeFile(file("TOOL.EXE"), false);
        const QString bare = makeFile(file("optipng"), true);
        const QString image = makeFile(file("picture.png"), false);
        const QString plain = makeFile(file("notes"), false);
        showPage("TabSheet_OptiPNG");
        auto *box = find<QLineEdit>("Edit_OptiPNG");

        dropFiles(box, {capitals});
        QCOMPARE(box->text(), capitals);
        for (const char *other : PathBoxes) {
            if (QLatin1String(other) != QLatin1String("Edit_OptiPNG"))
                QVERIFY2(find<QLineEdit>(other)->text().isEmpty(), other);
        }
        dropFiles(box, {bare});
        QCOMPARE(box->text(), bare);
        dropFiles(box, {image}); // not a program: the box is emptied
        QCOMPARE(box->text(), QString());
        dropFiles(box, {bare});
        dropFiles(box, {plain}); // no extension and no execute permission
        QCOMPARE(box->text(), QString());

        const QString second = makeFile(file("second.exe"), true);
        const QString third = makeFile(file("third"), true);
        dropFiles(box, {bare, second, third});
        QCOMPARE(box->text(), bare);
        dropFiles(box, {image, bare}); // the first item decides
        QCOMPARE(box->text(), QString());

        // Each box fills itself.
        dropFiles(find("Edit_Jpegoptim"), {second});
        QCOMPARE(find<QLineEdit>("Edit_Jpegoptim")->text(), second);
        QCOMPARE(box->text(), QString());
    }

    void toolsAreAvailableWhenTheirFilesExist()
    {
        // All path boxes empty: nothing can run, from the first display on.
        start();
        for (const char *tick : Ticks)
            QVERIFY2(!find(tick)->isEnabled(), tick);
        QVERIFY(!find("Button1")->isEnabled());

        // Only the PNGRewrite path exists; its box enables the run even unticked.
        const QString rewrite = makeFile(file("pngrewrite"), true);
        start(QByteArray("[PNGRewrite]\r\nUse=No\r\nPath=") + rewrite.toUtf8() +
              "\r\n[OptiPNG]\r\nUse=Yes\r\nPath=" + file("missing").toUtf8() + "\r\n");
        for (const char *tick : Ticks) {
            const bool expected = QLatin1String(tick) == QLatin1String("CheckBox_PNGRewrite");
            QVERIFY2(find(tick)->isEnabled() == expected, tick);
        }
        QVERIFY(find("Button1")->isEnabled());
        QVERIFY(find<QCheckBox>("CheckBox_OptiPNG")->isChecked()); // ticks never change
        QVERIFY(!find<QCheckBox>("CheckBox_PNGRewrite")->isChecked());

        // A typed path counts only once the 全体 page is shown again.
        showPage("TabSheet_OptiPNG");
        find<QLineEdit>("Edit_OptiPNG")->clear();
        QTest::keyClicks(find("Edit_OptiPNG"), rewrite);
        QVERIFY(!find("CheckBox_OptiPNG")->isEnabled());
        showPage("TabSheet_Common");
        QVERIFY(find("CheckBox_OptiPNG")->isEnabled());
        QVERIFY(find<QCheckBox>("CheckBox_OptiPNG")->isChecked());

        // A file nobody may execute cannot run, even where the box names it.
        find<QLineEdit>("Edit_PNGOUT")->setText(makeFile(file("pngout"), false));
        showPage("TabSheet_Common");
        QVERIFY(!find("CheckBox_PNGOUT")->isEnabled());

        // A folder named like a program is taken into the box, then found unusable;
        // a link counts by its target.
        QVERIFY(QDir(files.path()).mkpath(QStringLiteral("folder.exe")));
        QVERIFY(QFile::link(rewrite, file("link-to-tool")));
        QVERIFY(QFile::link(file("nowhere"), file("dangling.exe")));
        showPage("TabSheet_PNGRewrite");
        dropFiles(find("Edit_PNGRewrite"), {file("folder.exe")});
        QCOMPARE(find<QLineEdit>("Edit_PNGRewrite")->text(), file("folder.exe"));
        dropFiles(find("Edit_cPNGC"), {file("link-to-tool")});
        showPage("TabSheet_Common");
        QVERIFY(!find("CheckBox_PNGRewrite")->isEnabled());
        QVERIFY(find("CheckBox_cPNGC")->isEnabled());
        QVERIFY(find("Button1")->isEnabled());
        showPage("TabSheet_PNGRewrite");
        dropFiles(find("Edit_cPNGC"), {file("dangling.exe")});
        find<QLineEdit>("Edit_OptiPNG")->clear();
        showPage("TabSheet_Common");
        QVERIFY(!find("CheckBox_cPNGC")->isEnabled());
        QVERIFY(!find("Button1")->isEnabled());
    }

    void browsingReplacesTheBoxOrLeavesIt()
    {
        start();
        QString answer;
        QStringList filters;
        QStringList folders;
        fresh->get()->setOpenFileDialog(
            [&](QWidget *, const QString &folder, const QString &filter) {
                folders.append(folder);
                filters.append(filter);
                return answer;
            });
        showPage("TabSheet_PNGRewrite");
        auto *box = find<QLineEdit>("Edit_cPNGC");
        box->setText(QStringLiteral("/old/path"));
        answer = QStringLiteral("/opt/ツール/cpngc");
        QTest::mouseClick(find("Button_cPNGC"), Qt::LeftButton);
        QCOMPARE(box->text(), answer);
        answer.clear(); // cancelled
        QTest::mouseClick(find("Button_cPNGC"), Qt::LeftButton);
        QCOMPARE(box->text(), QStringLiteral("/opt/ツール/cpngc"));
        QVERIFY(find<QLineEdit>("Edit_PNGRewrite")->text().isEmpty());
        QCOMPARE(filters, (QStringList{QStringLiteral("実行ファイル (*)"),
                                       QStringLiteral("実行ファイル (*)")}));
        // Each time in the folder of the box's program, else where programs are installed.
        const QString tool = makeFile(file("cpngc"), true);
        box->setText(tool);
        QTest::mouseClick(find("Button_cPNGC"), Qt::LeftButton);
        QCOMPARE(folders, (QStringList{QStringLiteral("/usr/bin"), QStringLiteral("/usr/bin"),
                                       files.path()}));
    }

    void manualOptionBoxFollowsItsTick()
    {
        start();
        showPage("TabSheet_PNGCrush");
        auto *tick = find<QCheckBox>("CheckBox_PNGCrushCommand");
        auto *box = find<QLineEdit>("Edit_PNGCrushParam");
        const QColor window = QApplication::palette().color(QPalette::Base);
        const QColor light = QApplication::palette().color(QPalette::Midlight);
        QVERIFY(box->isReadOnly());
        QCOMPARE(box->palette().color(QPalette::Base), light);

        QTest::mouseClick(tick, Qt::LeftButton);
        QVERIFY(!box->isReadOnly());
        QCOMPARE(box->palette().color(QPalette::Base), window);
        QTest::keyClicks(box, QStringLiteral("-brute"));
        QTest::mouseClick(tick, Qt::LeftButton);
        QVERIFY(box->isReadOnly());
        QCOMPARE(box->palette().color(QPalette::Base), light);
        QCOMPARE(box->text(), QStringLiteral("-brute"));
        QVERIFY(find("ScrollBar_AdvPNG")->isEnabled());

        // The AdvPNG box is writable at design; its page's showing sets it from the tick.
        QVERIFY(!find<QLineEdit>("Edit_AdvPNGParam")->isReadOnly());
        showPage("TabSheet_AdvPNG");
        QVERIFY(find<QLineEdit>("Edit_AdvPNGParam")->isReadOnly());
    }

    void loadingDrivesTheHandlers()
    {
        start(
            QByteArray("[AdvPNG]\r\nCompressLevel=3\r\nUseParam=No\r\n"
                       "[PNGOut]\r\nUseParam=Yes\r\nParam=/y\r\n[OptiPNG]\r\nOptimizeLevel=2\r\n"));
        QCOMPARE(find<QLabel>("Label_AdvPNGCompress")->text(), QStringLiteral("圧縮レベル：3"));
        QCOMPARE(find<QLabel>("Label6")->text(), QStringLiteral("最適化レベル：2"));
        // Ticked by loading: writable before its page was ever shown.
        QVERIFY(!find<QLineEdit>("Edit_PNGOUTParam")->isReadOnly());
        QCOMPARE(find<QLineEdit>("Edit_PNGOUTParam")->text(), QStringLiteral("/y"));
    }

    void levelLabelsFollowTheirBars()
    {
        start();
        showPage("TabSheet_OptiPNG");
        auto *bar = find<QScrollBar>("ScrollBar1");
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_End);
        QCOMPARE(bar->value(), 7);
        QCOMPARE(find<QLabel>("Label6")->text(), QStringLiteral("最適化レベル：7"));
        QVERIFY(find<QLabel>("Label6")->width() >= find<QLabel>("Label6")->sizeHint().width());
        showPage("TabSheet_AdvPNG");
        auto *adv = find<QScrollBar>("ScrollBar_AdvPNG");
        adv->setFocus();
        QTest::keyClick(adv, Qt::Key_Left);
        QCOMPARE(find<QLabel>("Label_AdvPNGCompress")->text(), QStringLiteral("圧縮レベル：1"));
    }

    void aboutPageShowsTheIconAndOpensItsLinks()
    {
        start();
        auto *icon = find<QLabel>("Image_Icon");
        QVERIFY(icon->pixmap().isNull());
        showPage("TabSheet_Version");
        QCOMPARE(icon->pixmap().size(), QSize(32, 32));
        QVERIFY(icon->alignment() & Qt::AlignLeft && icon->alignment() & Qt::AlignTop);
        showPage("TabSheet_Common");
        showPage("TabSheet_Version");
        QVERIFY(!icon->pixmap().isNull());
        QCOMPARE(find<QLabel>("Label_Version")->text(),
                 QStringLiteral("Pelmora Tinsoke　ver 1.0.0"));

        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
        openedLinks.clear();
        auto *vector = find<QLabel>("LinkLabel_Vector");
        QTest::mouseClick(vector, Qt::LeftButton, Qt::NoModifier, vector->rect().center());
        // By keyboard: Tab from the address box to the last link, then Enter.
        fresh->get()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(fresh->get()));
        find("Edit_Name")->setFocus();
        for (int i = 0; i < 8 && QApplication::focusWidget() != find("LinkLabel_Amazon"); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), find("LinkLabel_Amazon"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // onto the link itself
        QCOMPARE(QApplication::focusWidget(), find("LinkLabel_Amazon"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        auto *site = find<QLabel>("LinkLabel_WebSite");
        QTest::mouseClick(site, Qt::LeftButton, Qt::NoModifier, site->rect().center());
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(openedLinks, (QStringList{QStringLiteral("https://example.org/tinsoke/donate/"),
                                           QStringLiteral("https://example.org/tinsoke/gift/"),
                                           QStringLiteral("https://example.org/tinsoke/")}));
    }
};

QTEST_MAIN(TForm1PagesTest)
#include "tform1_pages_test.moc"
