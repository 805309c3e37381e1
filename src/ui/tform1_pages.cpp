// The tool pages and the about page: browsing for and dropping executables,
// which tools are available, manual option boxes and level labels, the icon
// and the links.
#include "tform1.h"
#include "ui_mainwindow.h"

#include "extratoolspage.h"
#include "filedrop.h"
#include "filelistmodel.h"
#include "paths.h"
#include "programicon.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>

std::array<TForm1::ToolControls, 8> TForm1::toolControls() const
{
    return {{
        {ui->CheckBox_Jpegtran, ui->Edit_Jpegtran, ui->Button_Jpegtran},
        {ui->CheckBox_Jpegoptim, ui->Edit_Jpegoptim, ui->Button_Jpegoptim},
        {ui->CheckBox_AdvPNG, ui->Edit_AdvPNG, ui->Button_AdvPNG},
        {ui->CheckBox_OptiPNG, ui->Edit_OptiPNG, ui->Button_OptiPNG},
        {ui->CheckBox_PNGCrush, ui->Edit_PNGCrush, ui->Button_PNGCrush},
        {ui->CheckBox_PNGOUT, ui->Edit_PNGOUT, ui->Button_PNGOUT},
        {ui->CheckBox_PNGRewrite, ui->Edit_PNGRewrite, ui->Button_PNGRewrite},
        {ui->CheckBox_cPNGC, ui->Edit_cPNGC, ui->Button_cPNGC},
    }};
}

// Handlers are in place before the settings are loaded, so that loading
// brings the level labels and option boxes into line as a user's change would.
void TForm1::wirePageHandlers()
{
    m_openFileDialog = [](QWidget *parent, const QString &folder, const QString &filter) {
        return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
    };
    for (const ToolControls &t : toolControls()) {
        QLineEdit *path = t.path;
        connect(t.browse, &QPushButton::clicked, this, [this, path] { browseForExecutable(path); });
    }

    const std::pair<QCheckBox *, QLineEdit *> manual[] = {
        {ui->CheckBox_AdvPNGCommand, ui->Edit_AdvPNGParam},
        {ui->CheckBox_OptiPNGCommand, ui->Edit_OptiPNGParam},
        {ui->CheckBox_PNGCrushCommand, ui->Edit_PNGCrushParam},
        {ui->CheckBox_PNGOUTCommand, ui->Edit_PNGOUTParam},
    };
    for (const auto &[tick, options] : manual) {
        connect(tick, &QCheckBox::toggled, this,
                [this, tick = tick, options = options] { applyManualOption(tick, options); });
    }

    connect(ui->ScrollBar1, &QScrollBar::valueChanged, this, &TForm1::ScrollBar1Change);
    connect(ui->ScrollBar_AdvPNG, &QScrollBar::valueChanged, this, &TForm1::ScrollBar_AdvPNGChange);

    for (QLabel *link : {ui->LinkLabel_WebSite, ui->LinkLabel_Vector, ui->LinkLabel_Amazon})
        connect(link, &QLabel::linkActivated, this, &TForm1::LinkLabel_LinkClick);

    // Pages announce their showing: at the window's first display and at every switch.
    for (QWidget *page : {ui->TabSheet_Common, ui->TabSheet_AdvPNG, ui->TabSheet_OptiPNG,
                          ui->TabSheet_PNGCrush, ui->TabSheet_PNGOUT, ui->TabSheet_Version})
        page->installEventFilter(this);
}

void TForm1::hookToolPathBoxes()
{
    for (const ToolControls &t : toolControls()) {
        QLineEdit *path = t.path;
        m_pathBoxDropHooks.push_back(
            std::make_unique<FileDropHook>(path, [this, path](const QStringList &paths) {
                DropExecutable(paths);
                path->setText(DroppedToolPath);
            }));
    }
}

// Called for the page show events that wirePageHandlers asked for.
void TForm1::pageShown(QObject *page)
{
    if (page == ui->TabSheet_Common)
        TabSheet_CommonShow();
    else if (page == ui->TabSheet_AdvPNG)
        applyManualOption(ui->CheckBox_AdvPNGCommand, ui->Edit_AdvPNGParam);
    else if (page == ui->TabSheet_OptiPNG)
        applyManualOption(ui->CheckBox_OptiPNGCommand, ui->Edit_OptiPNGParam);
    else if (page == ui->TabSheet_PNGCrush)
        applyManualOption(ui->CheckBox_PNGCrushCommand, ui->Edit_PNGCrushParam);
    else if (page == ui->TabSheet_PNGOUT)
        applyManualOption(ui->CheckBox_PNGOUTCommand, ui->Edit_PNGOUTParam);
    else if (page == ui->TabSheet_Version)
        TabSheet_VersionShow();
}

void TForm1::browseForExecutable(QLineEdit *pathBox)
{
    const QString chosen = m_openFileDialog(this, tinsoke::browseStartFolder(pathBox->text()),
                                            tinsoke::executableFileFilter());
    if (!chosen.isEmpty())
        pathBox->setText(chosen);
}

// Only the first dropped item counts; a name that is no executable empties the box.
void TForm1::DropExecutable(const QStringList &paths)
{
    const QString first = paths.value(0);
    DroppedToolPath = tinsoke::isDroppableExecutable(first) ? first : QString();
}

void TForm1::TabSheet_CommonShow()
{
    bool anyAvailable = false;
    for (const ToolControls &t : toolControls()) {
        const bool available = tinsoke::namesUsableProgram(t.path->text());
        t.tick->setEnabled(available);
        anyAvailable = anyAvailable || available;
    }
    for (const tinsoke::ExtraTool &t : m_extraPage->tools())
        anyAvailable = anyAvailable || tinsoke::extraToolPlan(t).plan.use;
    m_anyToolAvailable = anyAvailable;
    applyRunState();
}

void TForm1::applyManualOption(const QCheckBox *tick, QLineEdit *options)
{
    const bool manual = tick->isChecked();
    options->setReadOnly(!manual);
    QPalette pal = options->palette();
    pal.setColor(QPalette::Base,
                 QApplication::palette().color(manual ? QPalette::Base : QPalette::Midlight));
    options->setPalette(pal);
}

void TForm1::ScrollBar1Change(int position)
{
    ui->Label6->setText(QStringLiteral("最適化レベル：") + QString::number(position));
    ui->Label6->adjustSize();
}

void TForm1::ScrollBar_AdvPNGChange(int position)
{
    ui->Label_AdvPNGCompress->setText(QStringLiteral("圧縮レベル：") + QString::number(position));
    ui->Label_AdvPNGCompress->adjustSize();
}

// The icon at the size a window icon is shown, in the box's top-left corner.
void TForm1::TabSheet_VersionShow()
{
    ui->Image_Icon->setPixmap(programIcon().pixmap(32, 32));
}

void TForm1::LinkLabel_LinkClick(const QString &link)
{
    QDesktopServices::openUrl(QUrl(link)); // a link that cannot be opened shows nothing
}

void TForm1::setUpExtraToolsPage()
{
    m_extraPage = new ExtraToolsPage(
        [this](const QString &start) {
            return m_openFileDialog(this, tinsoke::browseStartFolder(start),
                                    tinsoke::executableFileFilter());
        },
        ui->PageControl1);
    ui->PageControl1->insertTab(ui->PageControl1->indexOf(ui->TabSheet_Version), m_extraPage,
                                QStringLiteral("追加ツール"));
    connect(m_extraPage, &ExtraToolsPage::toolsChanged, this, &TForm1::extraToolsChanged);
}

// Each tool of the user's own has a column of its own, headed by its name,
// shown after cPNGC's.
void TForm1::extraToolsChanged()
{
    QStringList names;
    for (const tinsoke::ExtraTool &t : m_extraPage->tools())
        names << t.name;
    if (names == m_listModel->extraColumns())
        return;
    m_listModel->setExtraColumns(names);
    QHeaderView *header = ui->ListView1->horizontalHeader();
    const QFontMetrics metrics(ui->ListView1->font());
    for (int i = 0; i < names.size(); ++i) {
        const int column = tinsoke::TLVData::FieldCount + i;
        header->moveSection(header->visualIndex(column), tinsoke::TLVData::PathColumn + i);
        ui->ListView1->setColumnWidth(
            column, std::max(metrics.horizontalAdvance(names.at(i)),
                             metrics.horizontalAdvance(QStringLiteral("999999999"))) +
                        12);
    }
    TabSheet_CommonShow();
}
