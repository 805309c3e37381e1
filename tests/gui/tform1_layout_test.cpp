// The window as laid out: every control by its name, caption and place.
#include "freshform.h"
#include "listcolumns.h"
#include "programstyle.h"
#include "radiogroup.h"
#include "tform1.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

namespace {

struct Placed {
    const char *name;
    int x, y, w, h;
    const char *text; // caption, title or box text
};

// Controls whose place and size are fixed by the layout. Labels size
// themselves to their text and are checked apart.
const Placed PlacedControls[] = {
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
    {"Edit_Jpegtran", 3, 18, 566, 20, ""},
    {"Button_Jpegtran", 572, 18, 49, 20, "参照"},
    {"GroupBox_Jpegtran_Option", 3, 44, 618, 139, "オプション"},
    {"CheckBox_Jpegtran_Optimize", 3, 16, 65, 17, "最適化"},
    {"CheckBox_Jpegtran_Progressive", 3, 39, 113, 17, "プログレッシブ"},
    {"CheckBox_Jpegtran_Grayscale", 3, 62, 97, 17, "グレイスケール"},
    {"CheckBox_Jpegtran_Trim", 3, 85, 97, 17, "トリム"},
    {"RadioGroup2", 114, 10, 501, 34, "エクストラ・マーカー"},
    {"RadioGroup3", 114, 50, 501, 86, "ロスレス変形"},
    {"Edit_Jpegoptim", 3, 18, 566, 20, ""},
    {"Button_Jpegoptim", 572, 18, 49, 20, "参照"},
    {"GroupBox_Jpegoptim_Option", 3, 38, 618, 145, "オプション"},
    {"CheckBox_Jpegoptim_Strip", 8, 16, 105, 17, "マーカーの削除"},
    {"RadioGroup6", 152, 8, 217, 129, "削除するマーカー"},
    {"Edit_AdvPNG", 3, 18, 566, 20, ""},
    {"Button_AdvPNG", 572, 18, 49, 20, "参照"},
    {"GroupBox7", 3, 44, 609, 57, "基本設定"},
    {"ScrollBar_AdvPNG", 8, 32, 193, 17, ""},
    {"CheckBox_AdvPNGCommand", 3, 117, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox8", 3, 140, 609, 44, "コマンドオプション"},
    {"Edit_AdvPNGParam", 3, 18, 603, 20, ""},
    {"Edit_OptiPNG", 3, 18, 566, 20, ""},
    {"Button_OptiPNG", 572, 18, 49, 20, "参照"},
    {"GroupBox4", 3, 44, 609, 57, "基本設定"},
    {"ScrollBar1", 8, 32, 193, 17, ""},
    {"CheckBox_OptiPNGCommand", 3, 117, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox5", 3, 140, 609, 44, "コマンドオプション"},
    {"Edit_OptiPNGParam", 3, 18, 603, 20, ""},
    {"Edit_PNGCrush", 3, 18, 566, 20, ""},
    {"Button_PNGCrush", 572, 18, 49, 20, "参照"},
    {"CheckBox_PNGCrushCommand", 3, 41, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox3", 3, 64, 609, 44, "コマンドオプション"},
    {"Edit_PNGCrushParam", 3, 18, 603, 20, ""},
    {"Edit_PNGOUT", 3, 18, 566, 20, ""},
    {"Button_PNGOUT", 572, 18, 49, 20, "参照"},
    {"CheckBox_PNGOUTCommand", 3, 41, 169, 17, "コマンドオプション手動入力"},
    {"GroupBox6", 3, 64, 609, 44, "コマンドオプション"},
    {"Edit_PNGOUTParam", 3, 18, 603, 20, ""},
    {"Edit_PNGRewrite", 3, 18, 566, 20, ""},
    {"Button_PNGRewrite", 572, 18, 49, 20, "参照"},
    {"Edit_cPNGC", 3, 66, 566, 20, ""},
    {"Button_cPNGC", 572, 66, 49, 20, "参照"},
    {"Image_Icon", 12, 12, 45, 45, ""},
};

struct Caption {
    const char *name;
    int x, y;
    const char *text;
};

const Caption Labels[] = {
    {"Label1", 3, 3, "実行ファイル(Jpegtran.exe)"},
    {"Label_Jpegoptim", 3, 3, "実行ファイル(Jpegoptim.exe)"},
    {"Label_AdvPNG", 3, 3, "実行ファイル(advpng.exe)"},
    {"Label_AdvPNGCompress", 8, 16, "圧縮レベル：2"}, // as a first start sets it
    {"Label_OptiPNG", 3, 3, "実行ファイル(OptiPNG.exe)"},
    {"Label6", 8, 16, "最適化レベル：2"},
    {"Label_PNGCrush", 3, 3, "実行ファイル(pngcrush.exe)"},
    {"Label_PNGOUT", 3, 3, "実行ファイル(PNGOUT.exe)"},
    {"Label_PNGRewrite", 3, 3, "実行ファイル(PNGRewrite.exe)"},
    {"Label_cPNGC", 3, 51, "実行ファイル(cPNGC.exe)"},
    {"Label_Version", 60, 12, "Pelmora Tinsoke\u3000ver 1.0.0"},
    {"Label_Name", 150, 41, nullptr},
    {"Label_Message", 60, 98, nullptr},
    {"LinkLabel_WebSite", 150, 76, nullptr},
    {"LinkLabel_Vector", 66, 134, nullptr},
    {"LinkLabel_Amazon", 66, 156, nullptr},
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

} // namespace

class TForm1LayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshForm> fresh;
    TForm1 *form = nullptr;

    template <typename T = QWidget> T *find(const char *name)
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        installProgramStyle();
        fresh = std::make_unique<FreshForm>();
        form = fresh->get();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanupTestCase() { fresh.reset(); }

    void windowIsFixedWithOnlyACloseButton()
    {
        QCOMPARE(form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(form->windowTitle(), QStringLiteral("PelmoraTinsoke"));
        QCOMPARE(form->size(), QSize(632, 453));
        QCOMPARE(form->minimumSize(), QSize(632, 453));
        QCOMPARE(form->maximumSize(), QSize(632, 453));
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
        QCOMPARE(form->windowIcon().availableSizes().value(0), QSize(64, 64));
    }

    void everyControlHasItsPlaceAndCaption_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(PlacedControls)); ++i)
            QTest::newRow(PlacedControls[i].name) << i;
    }
    void everyControlHasItsPlaceAndCaption()
    {
        QFETCH(int, row);
        const Placed &p = PlacedControls[row];
        QWidget *w = find(p.name);
        QVERIFY2(w, p.name);
        QCOMPARE(w->pos(), QPoint(p.x, p.y));
        QCOMPARE(w->height(), p.h);
        if (auto *group = qobject_cast<RadioGroup *>(w)) // grows rather than cut an item
            QCOMPARE(w->width(), std::max(p.w, group->widthForItems()));
        else
            QCOMPARE(w->width(), p.w);
        QCOMPARE(textOf(w), QString::fromUtf8(p.text));
    }

    void labelsStandAtTheirPlaceAndFitTheirText_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(Labels)); ++i)
            QTest::newRow(Labels[i].name) << i;
    }
    void labelsStandAtTheirPlaceAndFitTheirText()
    {
        QFETCH(int, row);
        const Caption &c = Labels[row];
        auto *label = find<QLabel>(c.name);
        QVERIFY2(label, c.name);
        QCOMPARE(label->pos(), QPoint(c.x, c.y));
        if (c.text)
            QCOMPARE(label->text(), QString::fromUtf8(c.text));
        QVERIFY(label->width() >= label->sizeHint().width());
    }

    void captionsBesideTheAuthorValuesEndTogether()
    {
        for (const char *name : {"Label_Author", "Label_Mail", "Label_WebSite"}) {
            auto *label = find<QLabel>(name);
            QCOMPARE(label->x() + label->width(), 144);
            QVERIFY(label->width() >= label->sizeHint().width());
        }
        QCOMPARE(find<QLabel>("Label_Author")->text(), QStringLiteral("製作者:"));
        QCOMPARE(find<QLabel>("Label_Mail")->text(), QStringLiteral("Mail:"));
        QCOMPARE(find<QLabel>("Label_WebSite")->text(), QStringLiteral("WebSite:"));
        auto *mail = find<QLineEdit>("Edit_Name");
        QVERIFY(mail->isReadOnly());
        QVERIFY(!mail->hasFrame());
        QVERIFY(mail->text().endsWith(QStringLiteral("@example.org")));
    }

    void linksShowTheirTextAndReachTheKeyboard()
    {
        const struct {
            const char *name;
            const char *text;
        } links[] = {{"LinkLabel_Vector", "Vector のシェアレジから寄付する"},
                     {"LinkLabel_Amazon", "Amazon のギフト券で寄付する"},
                     {"LinkLabel_WebSite", nullptr}};
        for (const auto &l : links) {
            auto *label = find<QLabel>(l.name);
            QCOMPARE(label->textFormat(), Qt::RichText);
            QVERIFY(label->text().startsWith(QStringLiteral("<a href=\"https://example.org/")));
            if (l.text)
                QVERIFY(label->text().endsWith(
                    QStringLiteral("\">%1</a>").arg(QString::fromUtf8(l.text))));
            QVERIFY(label->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
            QVERIFY(label->focusPolicy() & Qt::TabFocus);
            QVERIFY(!label->openExternalLinks());
        }
        QCOMPARE(find<QLabel>("Label_Version")->font().pixelSize(), 16);
        QVERIFY(find<QLabel>("Image_Icon")->pixmap().isNull());
    }

    void pagesComeInTheirOrder()
    {
        auto *pages = find<QTabWidget>("PageControl1");
        const QStringList names{
            QStringLiteral("TabSheet_Common"),    QStringLiteral("TabSheet_Jpegtran"),
            QStringLiteral("TabSheet_Jpegoptim"), QStringLiteral("TabSheet_AdvPNG"),
            QStringLiteral("TabSheet_OptiPNG"),   QStringLiteral("TabSheet_PNGCrush"),
            QStringLiteral("TabSheet_PNGOUT"),    QStringLiteral("TabSheet_PNGRewrite"),
            QStringLiteral("TabSheet_Version")};
        const QStringList captions{
            QStringLiteral("全体"),   QStringLiteral("Jpegtran"), QStringLiteral("Jpegoptim"),
            QStringLiteral("AdvPNG"), QStringLiteral("OptiPNG"),  QStringLiteral("PNGCrush"),
            QStringLiteral("PNGOUT"), QStringLiteral("その他"),   QStringLiteral("バージョン情報")};
        QCOMPARE(pages->count(), 9);
        QCOMPARE(pages->currentIndex(), 0);
        for (int i = 0; i < pages->count(); ++i) {
            QCOMPARE(pages->widget(i)->objectName(), names.at(i));
            QCOMPARE(pages->tabText(i), captions.at(i));
        }
        // All tabs fit on one row, none cut: the tab bar needs no more than the width.
        QVERIFY(pages->tabBar()->sizeHint().width() <= pages->width());
        // The deepest control of any page fits inside it.
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
            QVERIFY2(group, g.name);
            QCOMPARE(group->count(), g.items);
            QCOMPARE(group->columns(), g.columns);
            QCOMPARE(group->itemIndex(), g.index);
            const int perColumn = (g.items + g.columns - 1) / g.columns;
            for (int i = 1; i < g.items; ++i) {
                const QRect prev = group->button(i - 1)->geometry();
                const QRect cur = group->button(i)->geometry();
                if (i % perColumn == 0) { // a new column, starting at the top
                    QVERIFY(cur.left() > prev.left());
                    QCOMPARE(cur.top(), group->button(0)->y());
                } else {
                    QCOMPARE(cur.left(), prev.left());
                    QVERIFY(cur.top() >= prev.bottom());
                }
                QVERIFY(group->rect().contains(cur));
            }
        }
        QCOMPARE(find<RadioGroup>("RadioGroup3")->items().at(7),
                 QStringLiteral("右下がり対角線を軸に反転"));
        // Captions are plain text: "&" is shown, the ideographic space kept.
        auto *markers = find<RadioGroup>("RadioGroup6");
        QCOMPARE(markers->items().at(0), QStringLiteral("strip all (Comment & Exif)\u3000markers"));
        QVERIFY(markers->button(0)->sizeHint().width() <= markers->button(0)->width());
    }

    void radioGroupIndexIsClampedToItsItems()
    {
        RadioGroup group;
        group.setItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QSignalSpy changes(&group, &RadioGroup::itemIndexChanged);
        group.setItemIndex(7);
        QCOMPARE(group.itemIndex(), 2);
        group.setItemIndex(2);
        group.setItemIndex(-5);
        QCOMPARE(group.itemIndex(), -1);
        QCOMPARE(changes.count(), 2); // only real changes are announced
        group.setItemIndex(0);
        QCOMPARE(group.itemIndex(), 0);
    }

    void scrollBarsMoveByOne()
    {
        const struct {
            const char *name;
            int max, value;
        } bars[] = {{"ScrollBar_AdvPNG", 4, 2}, {"ScrollBar1", 7, 2}}; // as a first start sets them
        for (const auto &b : bars) {
            auto *bar = find<QScrollBar>(b.name);
            QCOMPARE(bar->orientation(), Qt::Horizontal);
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), b.max);
            QCOMPARE(bar->value(), b.value);
            QCOMPARE(bar->singleStep(), 1);
            QCOMPARE(bar->pageStep(), 1);
            // The arrow keys move a level bar the way it points.
            bar->setValue(1);
            QTest::keyClick(bar, Qt::Key_Right);
            QCOMPARE(bar->value(), 2);
            QTest::keyClick(bar, Qt::Key_Left);
            QCOMPARE(bar->value(), 1);
            bar->setValue(b.value);
        }
    }

    void optionBoxesAreEditableOrReadOnlyAsDesigned()
    {
        QVERIFY(find<QLineEdit>("Edit_PNGCrushParam")->isReadOnly());
        QVERIFY(find<QLineEdit>("Edit_PNGOUTParam")->isReadOnly());
        QVERIFY(!find<QLineEdit>("Edit_AdvPNGParam")->isReadOnly());
        QVERIFY(!find<QLineEdit>("Edit_OptiPNGParam")->isReadOnly());
        QVERIFY(!find("CheckBox_Jpegoptim")->isEnabled());
    }

    void listShowsElevenColumnsSharingItsWidth()
    {
        auto *list = find<QTableView>("ListView1");
        QHeaderView *header = list->horizontalHeader();
        QCOMPARE(header->count(), tinsoke::ListColumnCount);
        const QStringList captions{
            QStringLiteral("ファイル名"), QStringLiteral("Size"),   QStringLiteral("Jpegtran"),
            QStringLiteral("Jpegoptim"),  QStringLiteral("AdvPNG"), QStringLiteral("OptiPNG"),
            QStringLiteral("PNGCrush"),   QStringLiteral("PNGOut"), QStringLiteral("PNGRewrite"),
            QStringLiteral("cPNGC"),      QStringLiteral("Path")};
        for (int c = 0; c < header->count(); ++c)
            QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), captions.at(c));
        QVERIFY(!header->isSortIndicatorShown());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(list->showGrid());

        const auto columnWidths = [&] {
            QList<int> w;
            for (int c = 0; c < header->count(); ++c)
                w.append(list->columnWidth(c));
            return w;
        };
        const auto expectShared = [&](int client) {
            const QList<int> w = columnWidths();
            QCOMPARE(std::accumulate(w.begin(), w.end(), 0), client);
            for (int c : {3, 4, 6, 9})
                QCOMPARE(w.at(c), 50);
            QCOMPARE(w.at(10), 120);
            for (int c : {2, 5, 7, 8})
                QCOMPARE(w.at(c), w.at(1));
            QVERIFY(w.at(0) - w.at(1) >= 0 && w.at(0) - w.at(1) < 6);
        };
        expectShared(list->viewport()->width());

        // The shares are worked out again whenever the list's size changes.
        list->resize(500, list->height());
        QTRY_COMPARE(list->viewport()->width(), 500 - 2 * list->frameWidth());
        expectShared(list->viewport()->width());
        list->resize(632, 221);
        QTRY_COMPARE(list->columnWidth(10), 120);
        expectShared(list->viewport()->width());
    }

    void columnWidthRule()
    {
        using tinsoke::listColumnWidths;
        const std::array<int, 11> at628{53, 51, 51, 50, 50, 51, 50, 51, 51, 50, 120};
        QCOMPARE(listColumnWidths(628), at628);
        const std::array<int, 11> at331{6, 1, 1, 50, 50, 1, 50, 1, 1, 50, 120};
        QCOMPARE(listColumnWidths(331), at331);
        // Too narrow for the fixed columns: the shared ones shrink to nothing.
        const std::array<int, 11> at100{0, 0, 0, 50, 50, 0, 50, 0, 0, 50, 120};
        QCOMPARE(listColumnWidths(100), at100);
    }

    void tabOrderRunsThroughEachPageAsDesigned()
    {
        // Following the focus chain from the first control of a page meets
        // the tab stops in their designed order.
        const auto chainFrom = [&](const char *first, int count) {
            QStringList names;
            QWidget *w = find(first);
            while (names.size() < count) {
                if (w->focusPolicy() & Qt::TabFocus)
                    names.append(w->objectName());
                w = w->nextInFocusChain();
            }
            return names;
        };
        QCOMPARE(chainFrom("Edit_Jpegtran", 10),
                 (QStringList{
                     QStringLiteral("Edit_Jpegtran"), QStringLiteral("Button_Jpegtran"),
                     QStringLiteral("CheckBox_Jpegtran_Optimize"),
                     QStringLiteral("CheckBox_Jpegtran_Progressive"),
                     QStringLiteral("CheckBox_Jpegtran_Grayscale"),
                     QStringLiteral("CheckBox_Jpegtran_Trim"), QStringLiteral("RadioGroup2_Item0"),
                     QStringLiteral("RadioGroup2_Item1"), QStringLiteral("RadioGroup2_Item2"),
                     QStringLiteral("RadioGroup3_Item0")}));
        QCOMPARE(chainFrom("Edit_AdvPNG", 5),
                 (QStringList{QStringLiteral("Edit_AdvPNG"), QStringLiteral("Button_AdvPNG"),
                              QStringLiteral("ScrollBar_AdvPNG"),
                              QStringLiteral("CheckBox_AdvPNGCommand"),
                              QStringLiteral("Edit_AdvPNGParam")}));
        QCOMPARE(
            chainFrom("Edit_Name", 4),
            (QStringList{QStringLiteral("Edit_Name"), QStringLiteral("LinkLabel_WebSite"),
                         QStringLiteral("LinkLabel_Vector"), QStringLiteral("LinkLabel_Amazon")}));
        QCOMPARE(
            chainFrom("CheckBox_Jpegtran", 11).mid(8, 3),
            (QStringList{QStringLiteral("RadioGroup1_Item0"), QStringLiteral("RadioGroup1_Item1"),
                         QStringLiteral("RadioGroup1_Item2")}));

        // The tabbed area comes before the list.
        int pagesAt = -1;
        int listAt = -1;
        QWidget *w = form;
        for (int i = 0; i < 500 && (pagesAt < 0 || listAt < 0); ++i, w = w->nextInFocusChain()) {
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
        // has a glyph for every character of every caption: no boxes.
        QCOMPARE(QFontInfo(form->font()).pixelSize(), 12);
        QCOMPARE(QFontInfo(form->font()).family(), QStringLiteral("IPAPGothic"));
        const QFontMetrics metrics(form->font());
        const auto widgets = form->findChildren<QWidget *>();
        int checked = 0;
        for (const QWidget *w : widgets) {
            const QString text = textOf(w);
            for (const QChar ch : text) {
                if (ch.unicode() >= 0x80 && ch != u'\r' && ch != u'\n') {
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
