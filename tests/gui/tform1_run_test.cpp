// The run button in the window: a run with a slow tool while the user keeps
// pressing, dropping, clearing, deleting, sorting and finally closes.
#include "drops.h"
#include "filelistmodel.h"
#include "freshform.h"
#include "messages.h"
#include "programstyle.h"

#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

QString write(const QString &path, const QByteArray &content,
              QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    f.close();
    f.setPermissions(permissions);
    return path;
}

} // namespace

class TForm1RunTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    QString path(const char *name) const { return files.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void cleanup() { messages::setHook({}); }

    void theWindowHoldsStillWhileARunGoesOn()
    {
        const QString log = path("log");
        const QString tool =
            write(path("slowtool"),
                  "#!/bin/sh\nsleep 0.3\nfor a; do last=\"$a\"; done\necho \"$last\" >> '" +
                      log.toUtf8() + "'\n",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FreshForm fresh{QByteArray("[Option]\r\nSaveMode=0\r\n[OptiPNG]\r\nUse=Yes\r\nPath=") +
                        tool.toUtf8() + "\r\n[AdvPNG]\r\nUse=No\r\n"};
        TForm1 *form = fresh.get();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        auto *list = fresh.find<QTableView>("ListView1");
        const QStringList images{write(path("c.png"), "3"), write(path("a.png"), "1"),
                                 write(path("b.png"), "2")};
        dropFiles(list->viewport(), images);
        QCOMPARE(form->fileList().rowCount(), 3);
        QVERIFY(fresh.find("Button1")->isEnabled());

        // What the user tries while the first file is being worked on.
        QTimer::singleShot(100, form, [&] {
            QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton); // a second run
            dropFiles(list->viewport(), {write(path("late.png"), "4")});
            QTest::mouseClick(fresh.find("Button3"), Qt::LeftButton); // clear
            list->selectAll();
            QTest::keyRelease(list, Qt::Key_Delete);
            QHeaderView *header = list->horizontalHeader();
            QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
            form->close();
        });
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);

        // One run, over the three rows in their order, then the close took effect.
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(logFile.readAll()).split(u'\n', Qt::SkipEmptyParts), images);
        QCOMPARE(form->fileList().rowCount(), 3);
        for (int r = 0; r < 3; ++r)
            QCOMPARE(form->fileList().ReadRow(r).Path, images.at(r));
        QVERIFY(!form->fileList().ReadRow(2).OptiPNGSize.isEmpty());
        auto *bar = fresh.find<QProgressBar>("RunProgress");
        QCOMPARE(bar->maximum(), 1);
        QCOMPARE(bar->value(), 1);
        QVERIFY(!form->isVisible());
        QVERIFY(!form->runInProgress());
    }

    void passedOverFilesAreToldOnceAtTheEnd()
    {
        QStringList shown;
        messages::setHook(
            [&](QWidget *, const QString &title, const QString &text, QMessageBox::Icon icon) {
                QCOMPARE(title, QStringLiteral("Pelmora Tinsoke"));
                QCOMPARE(icon, QMessageBox::Warning);
                shown.append(text);
            });
        const QString tool = write(path("tool"), "#!/bin/sh\n",
                                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FreshForm fresh{QByteArray("[Option]\r\nSaveMode=-1\r\n[OptiPNG]\r\nUse=Yes\r\nPath=") +
                        tool.toUtf8() + "\r\n"};
        fresh->show();
        QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
        dropFiles(fresh.find<QTableView>("ListView1")->viewport(),
                  {write(path("x.png"), "1"), write(path("y.png"), "2")});
        QTest::mouseClick(fresh.find("Button1"), Qt::LeftButton);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().startsWith(QStringLiteral("処理できなかったファイルがあります。\n")));
        QVERIFY(shown.first().contains(path("x.png") +
                                       QStringLiteral("：保存方法が選択されていません")));
        QVERIFY(shown.first().contains(path("y.png")));
    }
};

QTEST_MAIN(TForm1RunTest)
#include "tform1_run_test.moc"
