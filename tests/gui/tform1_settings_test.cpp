// Settings through the window: first start, stored values into the controls,
// the file written at exit, and a settings file that cannot be created.
#include "freshform.h"
#include "messages.h"
#include "programstyle.h"
#include "radiogroup.h"
#include "settings.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

namespace {

// The default text with some of its lines changed.
QByteArray defaultsWith(const QList<QPair<QByteArray, QByteArray>> &changes)
{
    QByteArray text = tinsoke::defaultSettingsText();
    for (const auto &c : changes) {
        const qsizetype at = text.indexOf(c.first);
        if (at >= 0)
            text.replace(at, c.first.size(), c.second);
    }
    return text;
}

const char *const ToolTicks[] = {"CheckBox_Jpegtran",   "CheckBox_Jpegoptim", "CheckBox_AdvPNG",
                                 "CheckBox_OptiPNG",    "CheckBox_PNGCrush",  "CheckBox_PNGOUT",
                                 "CheckBox_PNGRewrite", "CheckBox_cPNGC"};

} // namespace

class TForm1SettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void cleanup() { messages::setHook({}); }

    void firstStartCreatesTheDefaultFileAndReadsIt()
    {
        FreshForm f;
        QCOMPARE(f.settingsText(), tinsoke::defaultSettingsText());
        QCOMPARE(f->pos(), QPoint(0, 0));
        for (const char *name : ToolTicks)
            QVERIFY2(!f.find<QCheckBox>(name)->isChecked(), name);
        QCOMPARE(f.find<RadioGroup>("RadioGroup1")->itemIndex(), 0);  // not the designed 1
        QCOMPARE(f.find<QScrollBar>("ScrollBar_AdvPNG")->value(), 2); // not the designed 4
        QCOMPARE(f.find<QScrollBar>("ScrollBar1")->value(), 2);
        for (const char *group : {"RadioGroup2", "RadioGroup3", "RadioGroup6"})
            QCOMPARE(f.find<RadioGroup>(group)->itemIndex(), 0);
        QVERIFY(f.find<QLineEdit>("Edit_OptiPNG")->text().isEmpty());
    }

    void anEmptyFileIsKeptAndReadsAsYes()
    {
        FreshForm f{QByteArray()};
        QCOMPARE(QFileInfo(f.iniPath()).size(), 0); // not replaced by the default text
        for (const char *name : ToolTicks)
            QVERIFY2(f.find<QCheckBox>(name)->isChecked(), name);
        for (const char *name :
             {"CheckBox_Jpegtran_Optimize", "CheckBox_Jpegtran_Trim", "CheckBox_Jpegoptim_Strip",
              "CheckBox_AdvPNGCommand", "CheckBox_PNGOUTCommand"})
            QVERIFY2(f.find<QCheckBox>(name)->isChecked(), name);
        QCOMPARE(f.find<QScrollBar>("ScrollBar_AdvPNG")->value(), 0);
        QCOMPARE(f.find<QScrollBar>("ScrollBar1")->value(), 0);
        QCOMPARE(f.find<RadioGroup>("RadioGroup1")->itemIndex(), 0);
        QCOMPARE(f->pos(), QPoint(0, 0));
    }

    void storedValuesAreKeptWithinTheControls_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("expected");
        QTest::newRow("save mode 2, greyed")
            << QByteArray("SaveMode =0") << QByteArray("SaveMode=2")
            << QStringLiteral("RadioGroup1") << 2;
        QTest::newRow("save mode 7") << QByteArray("SaveMode =0") << QByteArray("SaveMode=7")
                                     << QStringLiteral("RadioGroup1") << 2;
        QTest::newRow("save mode -5") << QByteArray("SaveMode =0") << QByteArray("SaveMode=-5")
                                      << QStringLiteral("RadioGroup1") << -1;
        QTest::newRow("compress 9")
            << QByteArray("CompressLevel =2") << QByteArray("CompressLevel=9")
            << QStringLiteral("ScrollBar_AdvPNG") << 4;
        QTest::newRow("optimize 12")
            << QByteArray("OptimizeLevel =2") << QByteArray("OptimizeLevel=12")
            << QStringLiteral("ScrollBar1") << 7;
        QTest::newRow("optimize -3")
            << QByteArray("OptimizeLevel =2") << QByteArray("OptimizeLevel=-3")
            << QStringLiteral("ScrollBar1") << 0;
    }
    void storedValuesAreKeptWithinTheControls()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, control);
        QFETCH(int, expected);
        FreshForm f{defaultsWith({{from, to}})};
        QWidget *w = f->findChild<QWidget *>(control);
        if (auto *group = qobject_cast<RadioGroup *>(w))
            QCOMPARE(group->itemIndex(), expected);
        else
            QCOMPARE(qobject_cast<QScrollBar *>(w)->value(), expected);
    }

    void storedPositionIsUsedWhenOnTheWorkArea()
    {
        const int bottom = QGuiApplication::primaryScreen()->availableGeometry().bottom() + 1;
        FreshForm f{defaultsWith(
            {{"Top =0", "Top=" + QByteArray::number(bottom)}, {"Left =0", "Left=300"}})};
        QCOMPARE(f->pos(), QPoint(300, bottom)); // a top on the bottom edge is accepted
        FreshForm g{defaultsWith({{"Top =0", "Top=" + QByteArray::number(bottom + 1)}})};
        QCOMPARE(g->pos(), QPoint(0, 0));
    }

    void exitWritesEveryKeyAndKeepsTheRest()
    {
        const QByteArray extra("\r\n[Mine]\r\n; a note\r\nColour = blue \r\n");
        FreshForm f{tinsoke::defaultSettingsText() + extra};
        f->move(300, 100);
        f.find<QCheckBox>("CheckBox_OptiPNG")->setChecked(true);
        f.find<QLineEdit>("Edit_OptiPNG")->setText(QStringLiteral("/opt/ツール/optipng"));
        f.find<RadioGroup>("RadioGroup2")->setItemIndex(-1);
        f.find<QScrollBar>("ScrollBar1")->setValue(7);
        const QByteArray saved = f.closeAndRead();

        QVERIFY(saved.startsWith("[Set]\r\nFittingThreshold =10\r\n\r\n[Option]\r\nSaveMode=0\r\n"
                                 "\r\n[Form]\r\nTop=100\r\nLeft=300\r\n"));
        QVERIFY(saved.contains("[OptiPNG]\r\nUse=Yes\r\nPath=/opt/ツール/optipng\r\n"
                               "OptimizeLevel=7\r\nUseParam=No\r\nParam=\r\n"));
        QVERIFY(saved.contains("CopyMode=-1\r\n"));
        QVERIFY(saved.endsWith(extra));
        // Every line the program owns is key=value without blanks; the others keep theirs.
        QCOMPARE(saved.count(" ="), 2); // "FittingThreshold =10" and "Colour = blue "
        QCOMPARE(saved.count("= "), 1);

        // And it reads back into the same controls.
        FreshForm again{saved};
        QCOMPARE(again->pos(), QPoint(300, 100));
        QCOMPARE(again.find<QLineEdit>("Edit_OptiPNG")->text(),
                 QStringLiteral("/opt/ツール/optipng"));
        QCOMPARE(again.find<QScrollBar>("ScrollBar1")->value(), 7);
        QCOMPARE(again.find<RadioGroup>("RadioGroup2")->itemIndex(), -1);
    }

    void settingsThatCannotBeCreatedAreReportedOnce()
    {
        QStringList texts;
        QList<QMessageBox::Icon> icons;
        QStringList titles;
        messages::setHook(
            [&](QWidget *, const QString &title, const QString &text, QMessageBox::Icon icon) {
                titles.append(title);
                texts.append(text);
                icons.append(icon);
            });
        // A folder that cannot hold the file, even for root: its parent is a file.
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString ini = blocker.fileName() + QStringLiteral("/pelmora-tinsoke.ini");
        {
            TForm1 form(ini);
            QCOMPARE(texts, QStringList{QStringLiteral("Error\n\r") + ini +
                                        QStringLiteral("が生成できません。")});
            QCOMPARE(titles, QStringList{QStringLiteral("エラー")});
            QCOMPARE(icons.value(0), QMessageBox::Critical);
            // The designed values stay for the run.
            QCOMPARE(form.findChild<RadioGroup *>(QStringLiteral("RadioGroup1"))->itemIndex(), 1);
            QCOMPARE(form.findChild<QScrollBar *>(QStringLiteral("ScrollBar_AdvPNG"))->value(), 4);
        } // closing saves nowhere, silently
        QCOMPARE(texts.size(), 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("blocker")});
    }
};

QTEST_MAIN(TForm1SettingsTest)
#include "tform1_settings_test.moc"
