#include "tform1.h"
#include "ui_mainwindow.h"

#include "commandline.h"
#include "listcolumns.h"
#include "paths.h"
#include "programicon.h"
#include "progressbar.h"
#include "radiogroup.h"
#include "windowtoolrunhost.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QStandardItemModel>

#include <algorithm>

namespace {

const QString DesignFontFamily = QStringLiteral("ＭＳ Ｐゴシック");

// The designed font is a Windows one; these stand in for it where it is missing.
void registerFontSubstitutes()
{
    QFont::insertSubstitutions(DesignFontFamily,
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
                                QStringLiteral("Takao PGothic")});
}

QFont designFont(int pixelSize)
{
    QFont font(DesignFontFamily);
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// Labels take the size of their text, as the designed ones do; a label aligned
// to the right keeps its right edge, so captions stay flush with their values.
void fitLabelsToText(QWidget *root)
{
    const auto labels = root->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text().isEmpty())
            continue;
        const QRect old = label->geometry();
        const QSize hint = label->sizeHint();
        const int left =
            label->alignment() & Qt::AlignRight ? old.right() + 1 - hint.width() : old.left();
        label->setGeometry(left, old.top(), hint.width(), std::max(old.height(), hint.height()));
    }
}

// The designed widths assume narrower glyphs than the fonts that stand in here;
// a radio group grows to the right rather than cut an item's caption.
void fitRadioGroupsToItems(QWidget *root)
{
    const auto groups = root->findChildren<RadioGroup *>();
    for (RadioGroup *group : groups)
        group->fitWidthToItems();
}

} // namespace

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
    , m_toolRunHost(std::make_unique<WindowToolRunHost>(this))
{
    registerFontSubstitutes();
    setFont(designFont(12));
    ui->setupUi(this);
    setUpDesignedState();
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

// What the form file cannot say: window frame, fonts in pixels, the list's
// model and columns.
void TForm1::setUpDesignedState()
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(632, 453);
    move(190, 106);
    setWindowIcon(programIcon());

    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    ui->Label_Version->setFont(designFont(16));
    fitLabelsToText(this);
    fitRadioGroupsToItems(this);
    // The borderless address box shows its whole text from the start, its line
    // centred where the designed box had it, level with its caption.
    const QRect mail = ui->Edit_Name->geometry();
    const int mailHeight = std::max(mail.height(), ui->Edit_Name->sizeHint().height());
    ui->Edit_Name->setGeometry(mail.left(), mail.top() - (mailHeight - mail.height()) / 2,
                               mail.width(), mailHeight);
    ui->Edit_Name->setCursorPosition(0);

    m_listModel = new QStandardItemModel(0, tinsoke::ListColumnCount, this);
    for (int c = 0; c < tinsoke::ListColumnCount; ++c)
        m_listModel->setHeaderData(c, Qt::Horizontal, tinsoke::listColumnCaption(c));
    ui->ListView1->setModel(m_listModel);
    QHeaderView *header = ui->ListView1->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSortIndicatorShown(false);
    QHeaderView *rows = ui->ListView1->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    ui->ListView1->viewport()->installEventFilter(this);
    applyListColumnWidths();
}

void TForm1::FormCreate()
{
    // 1. The settings file sits beside the executable, named like it.
    IniFilePath = tinsoke::settingsFilePathFor(QCoreApplication::applicationFilePath());

    // 2. LoadSettings() belongs here, before any drop hook and before the progress bar.
    // 3. The file list's drop hook belongs here.
    // 4. The eight tool-path boxes' drop hooks belong here, in tool order.

    // 5. The progress bar lives inside the status bar, below its top edge.
    RunProgress = new ProgressBar(ui->StatusBar1);
    RunProgress->setObjectName(QStringLiteral("RunProgress"));
    RunProgress->setRange(0, 100);
    RunProgress->setValue(0);
    RunProgress->setGeometry(0, 2, 150, ui->StatusBar1->height() - 2);
    RunProgress->show();

    // 6. The donation request on the about page.
    ui->Label_Message->setText(QStringLiteral("「Pelmora Tinsoke」はカンパウェアです。\r\n"
                                              "気に入っていただけましたら開発継続のため寄付を"
                                              "お願いします。"));
    ui->Label_Message->adjustSize();

    // 7. Saving into a result folder is not offered; a stored choice of it still shows.
    ui->RadioGroup1->button(2)->setEnabled(false);

    // 8. Picture-format conversion is not offered.
    ui->RadioGroup4->hide();
    ui->RadioGroup5->hide();
}

void TForm1::FormDestroy()
{
    // 1. SaveSettings() belongs here, while the controls still hold their values.
    // 2. The drop hooks are withdrawn here: the list first, then the eight path boxes.
}

void TForm1::ShowProgress(int minimum, int maximum, int position)
{
    QCoreApplication::processEvents();
    RunProgress->setMinimum(minimum);
    RunProgress->setMaximum(maximum);
    // The bar ignores a position outside its range; clamp as a progress bar should.
    RunProgress->setValue(std::clamp(position, minimum, std::max(minimum, maximum)));
}

bool TForm1::beginRun()
{
    if (m_runInProgress)
        return false;
    m_runInProgress = true;
    return true;
}

void TForm1::endRun()
{
    m_runInProgress = false;
    if (m_closePending) {
        m_closePending = false;
        close();
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (m_runInProgress) {
        m_closePending = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->ListView1->viewport() && event->type() == QEvent::Resize)
        applyListColumnWidths();
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::applyListColumnWidths()
{
    const auto widths = tinsoke::listColumnWidths(ui->ListView1->viewport()->width());
    for (int c = 0; c < tinsoke::ListColumnCount; ++c)
        ui->ListView1->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
}

tinsoke::ToolRunHost &TForm1::toolRunHost()
{
    return *m_toolRunHost;
}

QString TForm1::BuildJpegtranOptions() const
{
    tinsoke::JpegtranSettings s;
    s.optimize = ui->CheckBox_Jpegtran_Optimize->isChecked();
    s.progressive = ui->CheckBox_Jpegtran_Progressive->isChecked();
    s.grayscale = ui->CheckBox_Jpegtran_Grayscale->isChecked();
    s.trim = ui->CheckBox_Jpegtran_Trim->isChecked();
    s.markerCopy = ui->RadioGroup2->itemIndex();
    s.transform = ui->RadioGroup3->itemIndex();
    return tinsoke::jpegtranOptions(s);
}

QString TForm1::BuildJpegoptimOptions() const
{
    return tinsoke::jpegoptimOptions(
        {ui->CheckBox_Jpegoptim_Strip->isChecked(), ui->RadioGroup6->itemIndex()});
}

QString TForm1::BuildAdvPNGOptions() const
{
    return tinsoke::advPngOptions({ui->CheckBox_AdvPNGCommand->isChecked(),
                                   ui->Edit_AdvPNGParam->text(), ui->ScrollBar_AdvPNG->value()});
}

QString TForm1::BuildOptiPNGOptions() const
{
    return tinsoke::optiPngOptions({ui->CheckBox_OptiPNGCommand->isChecked(),
                                    ui->Edit_OptiPNGParam->text(), ui->ScrollBar1->value()});
}

QString TForm1::BuildPNGOUTOptions() const
{
    return tinsoke::pngoutOptions(
        {ui->CheckBox_PNGOUTCommand->isChecked(), ui->Edit_PNGOUTParam->text()});
}

QString TForm1::BuildPNGCrushOptions() const
{
    return tinsoke::pngCrushOptions(
        {ui->CheckBox_PNGCrushCommand->isChecked(), ui->Edit_PNGCrushParam->text()});
}
