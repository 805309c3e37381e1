// The file list as a user meets it: files and folders dropped onto it, the
// clear button, header clicks, Ctrl+A and Delete, and all of it held still
// while a run is in progress.
#include "drops.h"
#include "filelistmodel.h"
#include "freshform.h"
#include "programstyle.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QStyle>
#include <QTableView>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {} // namespace

class TForm1ListTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    std::unique_ptr<FreshForm> fresh;
    QTableView *list = nullptr;

    tinsoke::FileListModel &rows() { return fresh->get()->fileList(); }
    QString make(const QString &name, int bytes)
    {
        const QString path = files.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(bytes, 'x'));
        return path;
    }
    void drop(const QStringList &paths) { dropFiles(list->viewport(), paths); }
    QStringList names()
    {
        QStringList out;
        for (int r = 0; r < rows().rowCount(); ++r)
            out.append(rows().ReadRow(r).FileName);
        return out;
    }
    void clickHeader(int column)
    {
        QHeaderView *header = list->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    void fillFive()
    {
        for (int i = 0; i < 5; ++i)
            drop({make(QStringLiteral("r%1.png").arg(i), 10 + i)});
    }
    QList<int> selectedRows()
    {
        QList<int> out;
        for (const QModelIndex &i : list->selectionModel()->selectedRows())
            out.append(i.row());
        std::sort(out.begin(), out.end());
        return out;
    }
    void select(std::initializer_list<int> which)
    {
        list->clearSelection();
        for (int r : which)
            list->selectionModel()->select(rows().index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void releaseDelete(bool autoRepeat = false)
    {
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier, QString(),
                          autoRepeat);
        QCoreApplication::sendEvent(list, &release);
    }

private Q_SLOTS:
    void initTestCase() { installProgramStyle(); }
    void init()
    {
        fresh = std::make_unique<FreshForm>();
        QVERIFY(fresh->showAndWait());
        list = fresh->find<QTableView>("ListView1");
    }
    void cleanup() { fresh.reset(); }

    void droppedImagesBecomeRows()
    {
        const QString a = make(QStringLiteral("A.JPG"), 1234);
        drop({a});
        QCOMPARE(rows().rowCount(), 1);
        const tinsoke::TLVData row = rows().ReadRow(0);
        QCOMPARE(row.FileName, QStringLiteral("A.JPG"));
        QCOMPARE(row.Size, QStringLiteral("1234"));
        QCOMPARE(row.Path, a);
        QVERIFY(row.field(tinsoke::toolInfo(tinsoke::Tool::Jpegtran).column).isEmpty() &&
                row.field(tinsoke::toolInfo(tinsoke::Tool::cPNGC).column).isEmpty());

        drop({make(QStringLiteral("x.JPEG"), 1), make(QStringLiteral("b.gif"), 1),
              make(QStringLiteral("c.bmp"), 1), make(QStringLiteral("noext"), 1)});
        QCOMPARE(names(), (QStringList{QStringLiteral("A.JPG"), QStringLiteral("x.JPEG")}));

        // Twice: still the one first row, unchanged. In other letters it is
        // another file, and another row.
        make(QStringLiteral("A.JPG"), 99);
        drop({a, make(QStringLiteral("a.jpg"), 5)});
        QCOMPARE(rows().rowCount(), 3);
        QCOMPARE(rows().ReadRow(0).Size, QStringLiteral("1234"));
        QCOMPARE(rows().ReadRow(2).Path, files.filePath(QStringLiteral("a.jpg")));

        // A file gone before its size is read is listed at 0.
        drop({files.filePath(QStringLiteral("gone.png"))});
        QCOMPARE(rows().ReadRow(3).Size, QStringLiteral("0"));
    }

    void droppedFoldersAndNamesOfEveryKind()
    {
        const QString odd = make(QStringLiteral("deep/写真 'x' \"y\" [1] (2) 😀.png"), 5);
        make(QStringLiteral("deep/.hidden/h.jpg"), 6);
        make(QStringLiteral("deep/readme.txt"), 7);
        const QString single = make(QStringLiteral("single.png"), 8);
        drop({single, files.filePath(QStringLiteral("deep"))});
        QCOMPARE(rows().rowCount(), 3);
        // A name from an old archive, no valid UTF-8: listed with its size.
        const QByteArray latin = QFile::encodeName(files.path()) + "/caf\xe9.png";
        FILE *out = std::fopen(latin.constData(), "w");
        std::fputs("xyz", out);
        std::fclose(out);
        drop({tinsoke::pathFromBytes(latin)});
        QCOMPARE(rows().rowCount(), 4);
        QCOMPARE(rows().ReadRow(3).Size, QStringLiteral("3"));
        QCOMPARE(rows().ReadRow(0).Path, single); // dropped items keep their order
        QVERIFY(rows().isListed(odd));
        QVERIFY(names().contains(QStringLiteral("h.jpg")));
    }

    void clearButtonEmptiesTheListAndTheBar()
    {
        auto *bar = fresh->find<QProgressBar>("RunProgress");
        fresh->get()->ShowProgress(0, 5, 3);
        QTest::mouseClick(fresh->find("Button3"), Qt::LeftButton);
        QCOMPARE(bar->maximum(), 5); // an empty list: nothing happens at all
        QCOMPARE(bar->value(), 3);

        fillFive();
        fresh->get()->setStatusText(QStringLiteral("5 件"));
        QTest::mouseClick(fresh->find("Button3"), Qt::LeftButton);
        QCOMPARE(rows().rowCount(), 0);
        QVERIFY(fresh->find<QLabel>("Label_Status")->text().isEmpty());
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(bar->value(), 0);
        drop({files.filePath(QStringLiteral("r1.png"))}); // listed again after clearing
        QCOMPARE(rows().rowCount(), 1);
    }

    void headerClicksSortAlternately()
    {
        drop({make(QStringLiteral("mid.png"), 50), make(QStringLiteral("Big.png"), 90),
              make(QStringLiteral("small.png"), 10)});
        clickHeader(1); // first click in a fresh window: descending
        QCOMPARE(names(), (QStringList{QStringLiteral("Big.png"), QStringLiteral("mid.png"),
                                       QStringLiteral("small.png")}));
        clickHeader(1);
        QCOMPARE(names(), (QStringList{QStringLiteral("small.png"), QStringLiteral("mid.png"),
                                       QStringLiteral("Big.png")}));
        clickHeader(0); // a third click, on another column, descending again
        QCOMPARE(names(), (QStringList{QStringLiteral("small.png"), QStringLiteral("mid.png"),
                                       QStringLiteral("Big.png")}));
        clickHeader(0);
        QCOMPARE(names().first(), QStringLiteral("Big.png"));
        QVERIFY(!list->horizontalHeader()->isSortIndicatorShown());
        // Rows added later stay at the end.
        drop({make(QStringLiteral("aaa.png"), 1)});
        QCOMPARE(names().last(), QStringLiteral("aaa.png"));
    }

    void ctrlASelectsEveryRow()
    {
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier); // empty: nothing
        QVERIFY(selectedRows().isEmpty());
        fillFive();
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(selectedRows(), (QList<int>{0, 1, 2, 3, 4}));
    }

    void deleteRemovesSelectedRowsAndPlacesTheFocus()
    {
        fillFive();
        select({1, 3});
        releaseDelete();
        QCOMPARE(names(), (QStringList{QStringLiteral("r0.png"), QStringLiteral("r2.png"),
                                       QStringLiteral("r4.png")}));
        QCOMPARE(list->currentIndex().row(), 1); // the former row 2
        QVERIFY(selectedRows().isEmpty());
        QVERIFY(QFile::exists(files.filePath(QStringLiteral("r1.png")))); // files untouched

        select({1, 2}); // the last two: the new last row gets the focus
        releaseDelete();
        QCOMPARE(names(), QStringList{QStringLiteral("r0.png")});
        QCOMPARE(list->currentIndex().row(), 0);

        list->clearSelection();
        releaseDelete(); // nothing selected: nothing happens
        QCOMPARE(rows().rowCount(), 1);
        select({0});
        releaseDelete(true); // a held key deletes only when it is let go
        QCOMPARE(rows().rowCount(), 1);
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyRelease(list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(rows().rowCount(), 0);
    }

    // As in a file manager: a click on a row of a multi-selection selects it
    // alone, Ctrl+click toggles a row, and a click on the one selected row
    // edits its caption.
    void clicksSelectAsInAFileManager()
    {
        fillFive();
        list->setFocus();
        const auto click = [&](int row, Qt::KeyboardModifiers keys = Qt::NoModifier) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, keys,
                              list->visualRect(rows().index(row, 0)).center());
        };
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        click(2);
        QCOMPARE(selectedRows(), QList<int>{2});
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        QVERIFY(!list->viewport()->findChild<QLineEdit *>()); // no caption editor opened
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(names(), (QStringList{QStringLiteral("r0.png"), QStringLiteral("r1.png"),
                                       QStringLiteral("r3.png"), QStringLiteral("r4.png")}));

        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        click(1, Qt::ControlModifier);
        QCOMPARE(selectedRows(), (QList<int>{0, 2, 3}));
        click(1, Qt::ControlModifier);
        click(3, Qt::ControlModifier);
        QCOMPARE(selectedRows(), (QList<int>{0, 1, 2}));
        QCOMPARE(list->currentIndex().row(), 3);

        click(0);
        QCOMPARE(selectedRows(), QList<int>{0});
        click(0); // the one selected row: its caption opens for editing
        QTRY_VERIFY(list->viewport()->findChild<QLineEdit *>());
    }

    // A size column widens to show a 7-digit number whole, whether it came
    // with the drop or from a run; cleared, the list is back to its design.
    void sizeColumnsFitTheirNumbers()
    {
        const int designedSize = list->columnWidth(1);
        const int designedAdvPNG = list->columnWidth(4);
        drop({make(QStringLiteral("large.png"), 1228750)});
        tinsoke::TLVData record = rows().ReadRow(0);
        QCOMPARE(record.Size, QStringLiteral("1228750"));
        record.field(tinsoke::toolInfo(tinsoke::Tool::AdvPNG).column) = QStringLiteral("1199999");
        rows().WriteRow(0, record);
        const int margins =
            2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
        for (const int column : {1, 4}) {
            const QString text = list->model()->index(0, column).data().toString();
            QVERIFY2(list->columnWidth(column) >=
                         list->fontMetrics().horizontalAdvance(text) + margins,
                     qPrintable(text));
        }
        QVERIFY(list->columnWidth(4) > designedAdvPNG);
        QTest::mouseClick(fresh->find("Button3"), Qt::LeftButton);
        QCOMPARE(list->columnWidth(1), designedSize);
        QCOMPARE(list->columnWidth(4), designedAdvPNG);
    }

    void pathsHandedInDuringARunWaitForItsEnd()
    {
        QVERIFY(fresh->get()->beginRun());
        fresh->get()->addPaths(
            {make(QStringLiteral("late/one.png"), 1), files.filePath(QStringLiteral("late"))});
        QCOMPARE(rows().rowCount(), 0);
        fresh->get()->endRun();
        QCOMPARE(names(), QStringList{QStringLiteral("one.png")});
    }

    void captionCanBeEditedInPlace()
    {
        drop({make(QStringLiteral("x.png"), 1)});
        list->setFocus();
        list->setCurrentIndex(rows().index(0, 0));
        QTest::keyClick(list, Qt::Key_F2);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText(QStringLiteral("新しい名前.png")); // typed; QTest types only ASCII
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(rows().ReadRow(0).FileName, QStringLiteral("新しい名前.png"));
        QCOMPARE(rows().ReadRow(0).Path, files.filePath(QStringLiteral("x.png")));
    }
};

QTEST_MAIN(TForm1ListTest)
#include "tform1_list_test.moc"
