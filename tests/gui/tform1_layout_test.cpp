// The window as laid out: every control by its name, caption and place.
#include "freshform.h"
#include "listcolumns.h"
#include "programstyle.h"
#include "radiogroup.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

namespace {

// Controls whose place and size the layout fixes, with their caption or text.
// Labels size themselves to their text: only their place is fixed (w = 0).
struct Placed {
    const char *name;
    int x, y, w, h;
    const char *text;
};
const Placed Layout[] = {
    {"ListView1", 0, 0, 632, 221, ""},
    {"PageControl1", 0, 221, 632, 213, ""},
    {"GroupBox1", 3, 3, 177, 54, "Jpeg Tool"},
    {"CheckBox_Jpegtran", 11, 14, 137, 17, "Jpegtran"},
    {"CheckBox_Jpegoptim", 11, 31, 137, 17, "JpegOptim"},
    {"GroupBox2", 3, 63, 177, 120, "PNG Tools"},
    {"CheckBox_AdvPNG", 11, 15, 94, 17, "AdvPNG"},
    {"CheckBox_OptiPNG", 11, 32, 94, 17, "OptiPNG"},
    {"CheckBox_PNGCrush", 11, 49, 94, 17, "PNGCrush"},
    {"CheckBox_PNGOUT", 11, 66, 94, 17, "PNGOUT"},
    {"CheckBox_PNGRewrite", 11, 84, 94, 17, "PNGRewrite"},
    {"CheckBox_cPNGC", 11, 100, 94, 17, "cPNGC"},
    {"RadioGroup1", 186, 3, 151, 73, "保存方法"},
    {"RadioGroup4", 343, 3, 169, 73, "BMP形式が入力された場合"},
    {"RadioGroup5", 343, 82, 169, 57, "GIF形式が入力された場合"},
    {"Button3", 536, 8, 81, 25, "リストクリア"},
    {"Button1", 536, 110, 81, 25, "実行"},
    {"Button_Stop", 536, 141, 81, 25, "中止"},
    {"Label_Jobs", 189, 88, 0, 0, "同時処理数"},
    {"SpinEdit_Jobs", 257, 84, 57, 20, ""},
    {"Label1", 3, 3, 0, 0, "実行ファイル(Jpegtran)"},
    {"Edit_Jpegtran", 3, 18, 566, 20, ""},
    {"Button_Jpegtran", 572, 18, 49, 20, "参照"},
    {"GroupBox_Jpegtran_Option", 3, 44, 618, 139, "オプション"},
    {"CheckBox_Jpegtran_Optimize", 3, 16, 65, 17, "最適化"},
    {"CheckBox_Jpegtran_Progressive", 3, 39, 113, 17, "プログレッシブ"},
    {"CheckBox_Jpegtran_Grayscale", 3, 62, 97, 17, "グレイスケール"},
    {"CheckBox_Jpegtran_Trim", 3, 85, 97, 17, "トリム"},
    {"RadioGroup2", 114, 10, 501, 34, "エクストラ・マーカー"},
    {"RadioGroup3", 114, 50, 501, 86, "ロスレス変形"},
    {"Label_Jpegoptim", 3, 3, 0, 0, "実行ファイル(Jpegoptim)"},
    {"Edit_Jpegoptim", 3, 18, 566, 20, ""},
    {"Button_Jpegoptim", 572, 18, 49, 20, "参照"},
    {"GroupBox_Jpegoptim_Option", 3, 38, 618, 145, "オプション"},
    {"CheckBox_Jpegoptim_Strip", 8, 16, 105, 17, "マーカーの削除"},
    {"RadioGroup6", 152, 8, 217, 129, "削除するマーカー"},
    {"Label_AdvPNG", 3, 3, 0, 0, "実行ファイル(advpng)"},
    {"Edit_AdvPNG", 3, 18, 566, 20, ""},
    {"Button_AdvPNG", 572, 18, 49, 20, "参照"},
    {"GroupBox7", 3, 44, 609, 57, "基本設定"},
    {"Label_AdvPNGCompress", 8, 16, 0, 0, "圧縮レベル：2"}, // as a first start sets it
    {"ScrollBar_AdvPNG", 8, 32, 193, 17, ""},
    {"CheckBox_AdvPNGCommand", 3, 117, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox8", 3, 140, 609, 44, "コマンドオプション"},
    {"Edit_AdvPNGParam", 3, 18, 603, 20, ""},
    {"Label_OptiPNG", 3, 3, 0, 0, "実行ファイル(OptiPNG)"},
    {"Edit_OptiPNG", 3, 18, 566, 20, ""},
    {"Button_OptiPNG", 572, 18, 49, 20, "参照"},
    {"GroupBox4", 3, 44, 609, 57, "基本設定"},
    {"Label6", 8, 16, 0, 0, "最適化レベル：2"},
    {"ScrollBar1", 8, 32, 193, 17, ""},
    {"CheckBox_OptiPNGCommand", 3, 117, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox5", 3, 140, 609, 44, "コマンドオプション"},
    {"Edit_OptiPNGParam", 3, 18, 603, 20, ""},
    {"Label_PNGCrush", 3, 3, 0, 0, "実行ファイル(pngcrush)"},
    {"Edit_PNGCrush", 3, 18, 566, 20, ""},
    {"Button_PNGCrush", 572, 18, 49, 20, "参照"},
    {"CheckBox_PNGCrushCommand", 3, 41, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox3", 3, 64, 609, 44, "コマンドオプション"},
    {"Edit_PNGCrushParam", 3, 18, 603, 20, ""},
    {"Label_PNGOUT", 3, 3, 0, 0, "実行ファイル(PNGOUT)"},
    {"Edit_PNGOUT", 3, 18, 566, 20, ""},
    {"Button_PNGOUT", 572, 18, 49, 20, "参照"},
    {"CheckBox_PNGOUTCommand", 3, 41, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox6", 3, 64, 609, 44, "コマンドオプション"},
    {"Edit_PNGOUTParam", 3, 18, 603, 20, ""},
    {"Label_PNGRewrite", 3, 3, 0, 0, "実行ファイル(PNGRewrite)"},
    {"Edit_PNGRewrite", 3, 18, 566, 20, ""},
    {"Button_PNGRewrite", 572, 18, 49, 20, "参照"},
    {"Label_cPNGC", 3, 51, 0, 0, "実行ファイル(cPNGC)"},
    {"Edit_cPNGC", 3, 66, 566, 20, ""},
    {"Button_cPNGC", 572, 66, 49, 20, "参照"},
    {"Image_Icon", 12, 12, 45, 45, ""},
    {"Label_Version", 60, 12, 0, 0, "Pelmora Tinsoke\u3000ver 1.0.0"},
    {"Label_Name", 150, 41, 0, 0, nullptr},
    {"Label_Message", 60, 98, 0, 0, nullptr},
    {"LinkLabel_WebSite", 150, 76, 0, 0, nullptr},
    {"LinkLabel_Vector", 66, 134, 0, 0,
     "<a href=\"https://example.org/tinsoke/donate/\">Vector のシェアレジから寄付する</a>"},
    {"LinkLabel_Amazon", 66, 156, 0, 0,
     "<a href=\"https://example.org/tinsoke/gift/\">Amazon のギフト券で寄付する</a>"},
};

QString textOf(const QWidget *w)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    return {};
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *n : list)
        out.append(QString::fromLatin1(n));
    return out;
}

} // namespace

class TForm1LayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshForm> fresh;
    template <typename T = QWidget> T *find(const char *name) { return fresh->find<T>(name); }

private Q_SLOTS:
    void initTestCase()
    {
        installProgramStyle();
        fresh = std::make_unique<FreshForm>();
        QVERIFY(fresh->showAndWait());
    }
    void cleanupTestCase() { fresh.reset(); }

    // The list takes what the window grows by; the pages keep their height
    // at the bottom, and the window never gets smaller than designed.
    void windowGrowsFromItsDesignedSize()
    {
        TForm1 *form = fresh->get();
        QCOMPARE(form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(form->windowTitle(), QStringLiteral("PelmoraTinsoke"));
        QCOMPARE(form->size(), QSize(632, 453));
        QCOMPARE(form->minimumSize(), QSize(632, 453));
        QCOMPARE(form->windowIcon().availableSizes().value(0), QSize(64, 64));
        auto *status = find<QLabel>("Label_Status");
        QCOMPARE(status->parentWidget(), find("StatusBar1"));
        QCOMPARE(status->geometry(), QRect(156, 2, 472, 17));

        form->resize(780, 560);
        QTRY_COMPARE(find("ListView1")->geometry(), QRect(0, 0, 780, 328));
        QCOMPARE(find("PageControl1")->geometry(), QRect(0, 328, 780, 213));
        QCOMPARE(find("Button1")->pos(), QPoint(536, 110));
        QCOMPARE(find("StatusBar1")->geometry(), QRect(0, 541, 780, 19));
        QCOMPARE(status->geometry(), QRect(156, 2, 620, 17));
        auto *list = find<QTableView>("ListView1");
        QTRY_COMPARE(list->columnWidth(1), (list->viewport()->width() - 320) / 6); // six share

        form->resize(400, 300);
        QTRY_COMPARE(find("ListView1")->geometry(), QRect(0, 0, 632, 221));
        QCOMPARE(form->size(), QSize(632, 453));
    }

    void everyControlHasItsPlaceAndCaption_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(Layout)); ++i)
            QTest::newRow(Layout[i].name) << i;
    }
    void everyControlHasItsPlaceAndCaption()
    {
        QFETCH(int, row);
        const Placed &p = Layout[row];
        QWidget *w = find(p.name);
        QVERIFY2(w, p.name);
        QCOMPARE(w->pos(), QPoint(p.x, p.y));
        if (p.w == 0) // a label: as large as its text
            QVERIFY(w->width() >= w->sizeHint().width() && w->height() >= w->sizeHint().height());
        else if (auto *group = qobject_cast<RadioGroup *>(w)) // grows rather than cut an item
            QCOMPARE(w->size(), QSize(std::max(p.w, group->widthForItems()), p.h));
        else
            QCOMPARE(w->size(), QSize(p.w, p.h));
        if (p.text)
            QCOMPARE(textOf(w), QString::fromUtf8(p.text));
    }

    void authorCaptionsEndWhereTheirValuesBegin()
    {
        for (const char *name : {"Label_Author", "Label_Mail", "Label_WebSite"})
            QCOMPARE(find(name)->geometry().right() + 1, 144);
        QCOMPARE(find<QLabel>("Label_Author")->text(), QStringLiteral("製作者:"));
        auto *mail = find<QLineEdit>("Edit_Name");
        QVERIFY(mail->isReadOnly() && !mail->hasFrame());
        QCOMPARE(find<QLabel>("Label_Version")->font().pixelSize(), 16);
        for (const char *link : {"LinkLabel_WebSite", "LinkLabel_Vector", "LinkLabel_Amazon"}) {
            auto *label = find<QLabel>(link);
            QVERIFY(label->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
            QVERIFY(label->focusPolicy() & Qt::TabFocus);
        }
    }

    void pagesComeInTheirOrderAndFit()
    {
        auto *pages = find<QTabWidget>("PageControl1");
        const QStringList captions{QStringLiteral("全体"),       QStringLiteral("Jpegtran"),
                                   QStringLiteral("Jpegoptim"),  QStringLiteral("AdvPNG"),
                                   QStringLiteral("OptiPNG"),    QStringLiteral("PNGCrush"),
                                   QStringLiteral("PNGOUT"),     QStringLiteral("その他"),
                                   QStringLiteral("追加ツール"), QStringLiteral("バージョン情報")};
        QCOMPARE(pages->count(), 10);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TabSheet_Common"));
        for (int i = 0; i < pages->count(); ++i)
            QCOMPARE(pages->tabText(i), captions.at(i));
        QCOMPARE(pages->widget(7)->objectName(), QStringLiteral("TabSheet_PNGRewrite"));
        QVERIFY(pages->tabBar()->sizeHint().width() <= pages->width()); // no tab cut off
        QVERIFY(find("GroupBox_Jpegoptim_Option")->geometry().bottom() <
                pages->widget(2)->height());
    }

    void radioGroupsHoldTheirItemsInColumns()
    {
        const struct {
            const char *name;
            int items, columns, index;
        } groups[] = {{"RadioGroup1", 3, 1, 0},  {"RadioGroup2", 3, 3, 0},
                      {"RadioGroup3", 8, 3, 0},  {"RadioGroup4", 3, 1, -1},
                      {"RadioGroup5", 2, 1, -1}, {"RadioGroup6", 5, 1, 0}};
        for (const auto &g : groups) {
            auto *group = find<RadioGroup>(g.name);
            QCOMPARE(group->count(), g.items);
            QCOMPARE(group->itemIndex(), g.index);
            const int perColumn = (g.items + g.columns - 1) / g.columns;
            for (int i = 1; i < g.items; ++i) { // columns fill top to bottom
                const QRect prev = group->button(i - 1)->geometry();
                const QRect cur = group->button(i)->geometry();
                QVERIFY(i % perColumn == 0 ? cur.left() > prev.left() && cur.top() <= prev.top()
                                           : cur.left() == prev.left() && cur.top() > prev.top());
                QVERIFY(group->rect().contains(cur));
            }
        }
        // Captions are plain text: "&" is shown, the ideographic space kept, nothing cut.
        auto *markers = find<RadioGroup>("RadioGroup6");
        QCOMPARE(markers->items().at(0), QStringLiteral("strip all (Comment & Exif)\u3000markers"));
        QVERIFY(markers->button(0)->sizeHint().width() <= markers->button(0)->width());
    }

    void barsAndOptionBoxesAsDesigned()
    {
        for (const auto &[name, max] : {std::pair{"ScrollBar_AdvPNG", 4}, {"ScrollBar1", 7}}) {
            auto *bar = find<QScrollBar>(name);
            QCOMPARE(bar->maximum(), max);
            QVERIFY(bar->singleStep() == 1 && bar->pageStep() == 1);
            bar->setValue(1); // the arrow keys move a level bar the way it points
            QTest::keyClick(bar, Qt::Key_Right);
            QCOMPARE(bar->value(), 2);
        }
        QVERIFY(find<QLineEdit>("Edit_PNGCrushParam")->isReadOnly());
        QVERIFY(find<QLineEdit>("Edit_PNGOUTParam")->isReadOnly());
        QVERIFY(!find<QLineEdit>("Edit_OptiPNGParam")->isReadOnly());
    }

    void listShowsElevenColumnsSharingItsWidth()
    {
        auto *list = find<QTableView>("ListView1");
        QHeaderView *header = list->horizontalHeader();
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("ファイル名"));
        QCOMPARE(list->model()->headerData(10, Qt::Horizontal).toString(), QStringLiteral("Path"));
        QVERIFY(!header->isSortIndicatorShown() && list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);

        const auto expectShared = [&] {
            int total = 0;
            for (int c = 0; c < tinsoke::ListColumnCount; ++c)
                total += list->columnWidth(c);
            QCOMPARE(total, list->viewport()->width());
            for (int c : {3, 4, 6, 9})
                QCOMPARE(list->columnWidth(c), 50);
            QCOMPARE(list->columnWidth(10), 120);
            for (int c : {2, 5, 7, 8})
                QCOMPARE(list->columnWidth(c), list->columnWidth(1));
            QVERIFY(list->columnWidth(0) - list->columnWidth(1) < 6);
        };
        expectShared();
        list->resize(500, list->height()); // worked out again when the size changes
        QTRY_COMPARE(list->viewport()->width(), 500 - 2 * list->frameWidth());
        expectShared();
        list->resize(632, 221);
        QTRY_COMPARE(list->columnWidth(10), 120);
    }

    void columnWidthRuleGivesTheRemainderToTheFirstColumn()
    {
        const std::array<int, 11> at331{6, 1, 1, 50, 50, 1, 50, 1, 1, 50, 120};
        QCOMPARE(tinsoke::listColumnWidths(331), at331);
        QCOMPARE(tinsoke::listColumnWidths(100)[0], 0); // too narrow: nothing to share
    }

    void tabOrderRunsThroughEachPageAsDesigned()
    {
        const auto chainFrom = [&](const char *first, int count) {
            QStringList out;
            for (QWidget *w = find(first); out.size() < count; w = w->nextInFocusChain()) {
                if (w->focusPolicy() & Qt::TabFocus)
                    out.append(w->objectName());
            }
            return out;
        };
        QCOMPARE(chainFrom("Edit_Jpegtran", 7),
                 names({"Edit_Jpegtran", "Button_Jpegtran", "CheckBox_Jpegtran_Optimize",
                        "CheckBox_Jpegtran_Progressive", "CheckBox_Jpegtran_Grayscale",
                        "CheckBox_Jpegtran_Trim", "RadioGroup2_Item0"}));
        QCOMPARE(chainFrom("Edit_AdvPNG", 5),
                 names({"Edit_AdvPNG", "Button_AdvPNG", "ScrollBar_AdvPNG",
                        "CheckBox_AdvPNGCommand", "Edit_AdvPNGParam"}));
        QCOMPARE(chainFrom("Edit_Name", 4),
                 names({"Edit_Name", "LinkLabel_WebSite", "LinkLabel_Vector", "LinkLabel_Amazon"}));
        // The tabbed area comes before the list.
        int pagesAt = -1;
        int listAt = -1;
        QWidget *w = fresh->get();
        for (int i = 0; i < 500 && listAt < 0; ++i, w = w->nextInFocusChain()) {
            if (pagesAt < 0 && find("PageControl1")->isAncestorOf(w))
                pagesAt = i;
            if (w == find("ListView1"))
                listAt = i;
        }
        QVERIFY(pagesAt >= 0 && listAt > pagesAt);
    }

    void japaneseTextHasGlyphsInTheWindowFont()
    {
        // The stand-in for the designed font is installed and chosen, and it
        // has every character of every caption: no boxes on screen.
        const QFont font = fresh->get()->font();
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(QFontInfo(font).pixelSize(), 12);
        const QFontMetrics metrics(font);
        int checked = 0;
        for (const QWidget *w : fresh->get()->findChildren<QWidget *>()) {
            for (const QChar ch : textOf(w)) {
                if (ch.unicode() >= 0x80) {
                    QVERIFY2(metrics.inFont(ch), qPrintable(w->objectName() + u' ' + ch));
                    ++checked;
                }
            }
        }
        QVERIFY(checked > 100);
    }
};

QTEST_MAIN(TForm1LayoutTest)
#include "tform1_layout_test.moc"
