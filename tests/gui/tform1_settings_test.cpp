// Settings through the window: first start, stored values into the controls,
// the file written at exit, and a settings file that cannot be created.
#include "freshform.h"
#include "lvdata.h"
#include "messages.h"
#include "paths.h"
#include "programstyle.h"
#include "radiogroup.h"
#include "settings.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

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

    // Values no save of ours writes: told once at start; the destructive
    // option reads as no, the save method as designed.
    void handWrittenValuesAreToldOnceAndDoNoHarm()
    {
        QStringList texts;
        messages::setHook([&](QWidget *, const QString &, const QString &text, QMessageBox::Icon) {
            texts.append(text);
        });
        FreshForm f{defaultsWith(
            {{"Grayscale =No", "Grayscale =false"}, {"SaveMode =0", "SaveMode =copy"}})};
        QTRY_COMPARE(texts.size(), 1);
        QVERIFY2(texts.first().contains(QStringLiteral("Grayscale")) &&
                     texts.first().contains(QStringLiteral("SaveMode")),
                 qPrintable(texts.first()));
        QVERIFY(!f.find<QCheckBox>("CheckBox_Jpegtran_Grayscale")->isChecked());
        QCOMPARE(f.find<RadioGroup>("RadioGroup1")->itemIndex(), 1);
        QTest::qWait(50);
        QCOMPARE(texts.size(), 1);
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

        QVERIFY(
            saved.startsWith("[Set]\r\nFittingThreshold =10\r\n\r\n[Option]\r\nSaveMode=0\r\n"
                             "Jobs=0\r\nOriginals=Trash\r\n\r\n[Form]\r\nTop=100\r\nLeft=300\r\n"));
        QVERIFY(saved.contains("[OptiPNG]\r\nUse=Yes\r\nPath=/opt/ツール/optipng\r\n"
                               "OptimizeLevel=7\r\nUseParam=No\r\nParam=\r\n"));
        QVERIFY(saved.contains("CopyMode=-1\r\n"));
        QVERIFY(saved.contains("[Form]\r\nTop=100\r\nLeft=300\r\nWidth=632\r\nHeight=453\r\n"));
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

    // Each key other than the window's place reaches a control of its own
    // and comes back from it: a value other than its default, for every key.
    void everyKeyGoesThroughItsControl()
    {
        tinsoke::SettingValues values =
            tinsoke::readSettings(tinsoke::IniDocument::fromBytes(tinsoke::defaultSettingsText()));
        for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
            QVariant &v = valueOf(values, k.setting);
            if (k.kind == tinsoke::ValueKind::YesNo)
                v = !v.toBool();
            else if (k.kind == tinsoke::ValueKind::Integer || k.kind == tinsoke::ValueKind::Choice)
                v = v.toInt() == 1 ? 0 : 1;
            else
                v = QStringLiteral("/x/%1").arg(tinsoke::settingName(k.setting));
        }
        tinsoke::IniDocument written = tinsoke::IniDocument::fromBytes({});
        tinsoke::writeSettings(written, values);
        FreshForm f{written.toBytes()};
        const tinsoke::SettingValues back =
            tinsoke::readSettings(tinsoke::IniDocument::fromBytes(f.closeAndRead()));
        for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
            if (QStringView(k.readSection) != u"Form")
                QVERIFY2(valueOf(back, k.setting) == valueOf(values, k.setting),
                         qPrintable(tinsoke::settingName(k.setting)));
        }
    }

    // Settings that hold the user's own tools, ticked or not, one of them
    // with a program that is gone: the window starts, 追加ツール lists them
    // and the list has a column for each. A tool added on the page is there
    // at the next start.
    void startsOverTheUsersOwnTools_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("three") << 3;
    }
    void startsOverTheUsersOwnTools()
    {
        QFETCH(int, count);
        QStringList told;
        messages::setHook([&told](QWidget *, const QString &, const QString &text,
                                  QMessageBox::Icon) { told << text; });
        const QByteArray sections[] = {
            "[ExtraTool1]\r\nUse=Yes\r\nName=first\r\nKind=PNG\r\nPath=/bin/true\r\n"
            "Args={in}\r\n",
            "[ExtraTool2]\r\nUse=No\r\nName=second\r\nKind=JPEG\r\nPath=/bin/true\r\n"
            "Args=-q {in}\r\n",
            "[ExtraTool3]\r\nUse=Yes\r\nName=gone\r\nKind=PNG\r\nPath=/no/such/tool\r\n"
            "Args={in} {out}\r\n"};
        QByteArray text = tinsoke::defaultSettingsText();
        for (int i = 0; i < count; ++i)
            text += sections[i];
        FreshForm f{text};
        QVERIFY(f.showAndWait());
        auto *page = f.find<QTableWidget>("ListView_ExtraTools");
        auto *list = f.find<QTableView>("ListView1");
        const QStringList names{QStringLiteral("first"), QStringLiteral("second"),
                                QStringLiteral("gone")};
        QCOMPARE(page->rowCount(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(page->item(i, 1)->text(), names.at(i));
            QCOMPARE(page->item(i, 0)->checkState(), i == 1 ? Qt::Unchecked : Qt::Checked);
            QCOMPARE(list->model()
                         ->headerData(tinsoke::TLVData::FieldCount + i, Qt::Horizontal)
                         .toString(),
                     names.at(i));
            QVERIFY(!list->isColumnHidden(tinsoke::TLVData::FieldCount + i));
        }
        QCOMPARE(list->model()->columnCount(), tinsoke::TLVData::FieldCount + count);
        QVERIFY(f.find("Button1")->isEnabled());
        QCoreApplication::processEvents();
        QVERIFY2(told.isEmpty(), qPrintable(told.join(u'\n'))); // nothing here is wrong
        if (count == 3) { // the ticked tool whose program is gone is told before the run
            const QString png = f.folder() + QStringLiteral("/a.png");
            QFile(png).open(QIODevice::WriteOnly);
            f->addPaths({png});
            QTest::mouseClick(f.find("Button1"), Qt::LeftButton);
            QVERIFY(!f->runInProgress());
            QCOMPARE(told.size(), 1);
            QVERIFY2(told.first().contains(QStringLiteral(
                         "追加ツール「gone」は使えません（プログラム /no/such/tool")),
                     qPrintable(told.first()));
        }

        // Added on the page, and found at the next start.
        QTest::mouseClick(f.find("Button_ExtraAdd"), Qt::LeftButton);
        page->item(count, 1)->setText(QStringLiteral("added"));
        page->item(count, 3)->setText(QStringLiteral("/bin/cat"));
        FreshForm again{f.closeAndRead()};
        QVERIFY(again.showAndWait());
        auto *pageAgain = again.find<QTableWidget>("ListView_ExtraTools");
        QCOMPARE(pageAgain->rowCount(), count + 1);
        QCOMPARE(pageAgain->item(count, 1)->text(), QStringLiteral("added"));
        QCOMPARE(pageAgain->item(count, 3)->text(), QStringLiteral("/bin/cat"));
        QCOMPARE(pageAgain->item(count, 4)->text(), QStringLiteral("{in} {out}"));
        QCOMPARE(again.find<QTableView>("ListView1")
                     ->model()
                     ->headerData(tinsoke::TLVData::FieldCount + count, Qt::Horizontal)
                     .toString(),
                 QStringLiteral("added"));
    }

    // The Debian optimizers on PATH: the first start fills their boxes and
    // ticks them; a later start fills only empty boxes and keeps the ticks.
    void toolsOnPathAreFoundAndTickedOnlyAtTheFirstStart()
    {
        QTemporaryDir bin; // the five Debian has, and a pngout nobody may run
        for (const char *name :
             {"jpegtran", "jpegoptim", "advpng", "optipng", "pngcrush", "pngout"}) {
            QFile tool(bin.filePath(QString::fromLatin1(name)));
            QVERIFY(tool.open(QIODevice::WriteOnly));
            tool.setPermissions(QByteArray(name) == "pngout" ? QFile::ReadOwner
                                                             : QFile::ReadOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        FreshForm first;
        first->findToolsOnPath();
        FreshForm later{defaultsWith({{"[Jpegoptim]\r\nUse =No\r\nPath =",
                                       "[Jpegoptim]\r\nUse =No\r\nPath =/opt/jpegoptim"}})};
        later->findToolsOnPath();
        qputenv("PATH", path);
        QVERIFY(first.showAndWait() && later.showAndWait());

        for (int at = 0; at < 8; ++at) {
            QCOMPARE(first.find<QCheckBox>(ToolTicks[at])->isChecked(), at < 5);
            QCOMPARE(first.find<QCheckBox>(ToolTicks[at])->isEnabled(), at < 5);
            QVERIFY(!later.find<QCheckBox>(ToolTicks[at])->isChecked());
        }
        const QString optipng = bin.filePath(QStringLiteral("optipng"));
        QCOMPARE(first.find<QLineEdit>("Edit_OptiPNG")->text(), optipng);
        QVERIFY(first.find<QLineEdit>("Edit_PNGOUT")->text().isEmpty());
        QCOMPARE(later.find<QLineEdit>("Edit_OptiPNG")->text(), optipng);
        QCOMPARE(later.find<QLineEdit>("Edit_Jpegoptim")->text(), // only empty boxes are filled
                 QStringLiteral("/opt/jpegoptim"));
        QVERIFY(first.closeAndRead().contains("[OptiPNG]\r\nUse=Yes\r\nPath=" +
                                              QFile::encodeName(optipng)));
    }

    // A program in a folder nothing can be made in, not even by root: its
    // settings go to the user's configuration folder, made for them, and
    // stay there from one start to the next.
    void settingsOfAProgramInAReadOnlyFolderAreKeptInTheUsersFolder()
    {
        int shown = 0;
        messages::setHook(
            [&](QWidget *, const QString &, const QString &, QMessageBox::Icon) { ++shown; });
        QTemporaryDir home;
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        const QString ini = tinsoke::settingsFilePath(QStringLiteral("/proc/pelmora-tinsoke"));
        qputenv("XDG_CONFIG_HOME", config);
        QCOMPARE(ini, home.filePath(QStringLiteral("config/pelmora-tinsoke/pelmora-tinsoke.ini")));
        {
            TForm1 form(ini);
            QVERIFY(QFileInfo::exists(ini));
            form.findChild<QSpinBox *>(QStringLiteral("SpinEdit_Jobs"))->setValue(3);
            form.resize(700, 500);
        }
        TForm1 again(ini);
        QCOMPARE(again.findChild<QSpinBox *>(QStringLiteral("SpinEdit_Jobs"))->value(), 3);
        QCOMPARE(again.size(), QSize(700, 500));
        QCOMPARE(shown, 0);
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

    // A full disk at exit: the settings file stays byte-identical, nothing is
    // left beside it, and the user is told once.
    void aFullDiskAtExitKeepsTheFileAndTellsOnce()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small file system");
        QTemporaryDir dir;
        const QByteArray disk = QFile::encodeName(dir.path());
        if (::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=8k") != 0)
            QSKIP("mounting a small file system was refused");
        const auto unmount = qScopeGuard([&] { ::umount2(disk.constData(), MNT_DETACH); });
        const QString ini = dir.filePath(QStringLiteral("pelmora-tinsoke.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Form]\r\nTop=0\r\n");
        f.close();
        QStringList texts;
        messages::setHook([&](QWidget *, const QString &, const QString &text, QMessageBox::Icon) {
            texts.append(text);
        });
        {
            TForm1 form(ini);
            QFile filler(dir.filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(1024, 'x')) > 0 && filler.flush()) {
            }
        } // exit saves every key: more than the disk holds
        QCOMPARE(texts, QStringList{QStringLiteral("Error\n\r") + ini +
                                    QStringLiteral("が生成できません。")});
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[Form]\r\nTop=0\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{QStringLiteral("filler"), QStringLiteral("pelmora-tinsoke.ini")}));
    }
};

QTEST_MAIN(TForm1SettingsTest)
#include "tform1_settings_test.moc"
