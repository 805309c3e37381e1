// The tool pages and the about page: browsing for and dropping executables,
// which tools are available, manual option boxes and level labels, the icon
// and the links.
#include "tform1.h"
#include "ui_mainwindow.h"

#include "controlnames.h"
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

std::array<TForm1::ToolControls, tinsoke::ToolCount> TForm1::toolControls() const
{
    std::array<ToolControls, tinsoke::ToolCount> controls{};
    for (const tinsoke::Tool tool : tinsoke::AllTools) {
        controls.at(static_cast<std::size_t>(tool)) = {
            qobject_cast<QCheckBox *>(settingControl(tinsoke::toolUseSetting(tool))),
            qobject_cast<QLineEdit *>(settingControl(tinsoke::toolPathSetting(tool))),
            findChild<QPushButton *>(toolBrowseName(tool))};
    }
    return controls;
}

// The tools whose sections have a manual text and the tick that uses it.
std::vector<TForm1::ManualOption> TForm1::manualOptions() const
{
    std::vector<ManualOption> options;
    for (const tinsoke::Tool tool : tinsoke::AllTools) {
        const auto tick = tinsoke::toolSetting(tool, u"UseParam");
        const auto text = tinsoke::toolSetting(tool, u"Param");
        if (tick && text)
            options.push_back({findChild<QWidget *>(toolPageName(tool)),
                               qobject_cast<QCheckBox *>(settingControl(*tick)),
                               qobject_cast<QLineEdit *>(settingControl(*text))});
    }
    return options;
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

    for (const ManualOption &m : manualOptions()) {
        connect(m.tick, &QCheckBox::toggled, this,
                [this, tick = m.tick, text = m.text] { applyManualOption(tick, text); });
    }

    connect(ui->ScrollBar1, &QScrollBar::valueChanged, this, &TForm1::ScrollBar1Change);
    connect(ui->ScrollBar_AdvPNG, &QScrollBar::valueChanged, this, &TForm1::ScrollBar_AdvPNGChange);

    for (QLabel *link : {ui->LinkLabel_WebSite, ui->LinkLabel_Vector, ui->LinkLabel_Amazon})
        connect(link, &QLabel::linkActivated, this, &TForm1::LinkLabel_LinkClick);

    // Pages announce their showing: at the window's first display and at every switch.
    ui->TabSheet_Common->installEventFilter(this);
    for (const ManualOption &m : manualOptions())
        m.page->installEventFilter(this);
    ui->TabSheet_Version->installEventFilter(this);
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
    else if (page == ui->TabSheet_Version)
        TabSheet_VersionShow();
    for (const ManualOption &m : manualOptions()) {
        if (page == m.page)
            applyManualOption(m.tick, m.text);
    }
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
