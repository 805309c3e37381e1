#include "tform1.h"
#include "ui_mainwindow.h"

#include "commandline.h"
#include "filedrop.h"
#include "messages.h"
#include "paths.h"
#include "programicon.h"
#include "progressbar.h"
#include "radiogroup.h"
#include "windowtoolrunhost.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

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

// A setting's value as its control holds it: an item index, a bar position,
// a tick or a text.
QVariant controlValue(const QWidget *control)
{
    if (auto *group = qobject_cast<const RadioGroup *>(control))
        return group->itemIndex();
    if (auto *bar = qobject_cast<const QScrollBar *>(control))
        return bar->value();
    if (auto *box = qobject_cast<const QCheckBox *>(control))
        return box->isChecked();
    return qobject_cast<const QLineEdit *>(control)->text();
}

// Gives a control a value the way a user's change would, so its own handlers
// run, and only when the value really changes. Radio groups and scroll bars
// keep a stored number within their items and range.
void setControlValue(QWidget *control, const QVariant &value)
{
    if (auto *group = qobject_cast<RadioGroup *>(control))
        group->setItemIndex(value.toInt());
    else if (auto *bar = qobject_cast<QScrollBar *>(control))
        bar->setValue(value.toInt());
    else if (auto *box = qobject_cast<QCheckBox *>(control))
        box->setChecked(value.toBool());
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setText(value.toString());
}

} // namespace

TForm1::TForm1(const QString &settingsPath, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
    , m_toolRunHost(std::make_unique<WindowToolRunHost>(this))
{
    registerFontSubstitutes();
    setFont(designFont(12));
    ui->setupUi(this);
    setUpDesignedState();
    wirePageHandlers();
    FormCreate(settingsPath);
}

TForm1::~TForm1()
{
    FormDestroy();
}

// What the form file cannot say: window frame, fonts in pixels, sizes that
// follow the fonts, the list's model.
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

    setUpFileList();
}

void TForm1::FormCreate(const QString &settingsPath)
{
    // 1. The settings file sits beside the executable, named like it.
    IniFilePath = settingsPath.isEmpty()
                      ? tinsoke::settingsFilePathFor(QCoreApplication::applicationFilePath())
                      : settingsPath;

    // 2. Before any drop hook and before the progress bar.
    LoadSettings();

    // 3. The file list takes dropped files and folders.
    m_listDropHook = std::make_unique<FileDropHook>(
        ui->ListView1->viewport(), [this](const QStringList &paths) { DropFiles(paths); });
    // 4. The eight tool-path boxes take dropped executables, in tool order.
    hookToolPathBoxes();

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
    // 1. While the controls still hold their values.
    SaveSettings();
    // 2. Drops are withdrawn: the list first, then the eight path boxes in tool order.
    m_listDropHook.reset();
    m_pathBoxDropHooks.clear();
}

// Which control holds each setting; the window position is the form's own.
QWidget *TForm1::settingControl(tinsoke::Setting setting) const
{
    using S = tinsoke::Setting;
    switch (setting) {
    case S::FormTop:
    case S::FormLeft:
        return nullptr;
    case S::SaveMode:
        return ui->RadioGroup1;
    case S::JpegtranUse:
        return ui->CheckBox_Jpegtran;
    case S::JpegtranPath:
        return ui->Edit_Jpegtran;
    case S::JpegtranOptimize:
        return ui->CheckBox_Jpegtran_Optimize;
    case S::JpegtranProgressive:
        return ui->CheckBox_Jpegtran_Progressive;
    case S::JpegtranGrayscale:
        return ui->CheckBox_Jpegtran_Grayscale;
    case S::JpegtranTrim:
        return ui->CheckBox_Jpegtran_Trim;
    case S::JpegtranCopyMode:
        return ui->RadioGroup2;
    case S::JpegtranModifyMode:
        return ui->RadioGroup3;
    case S::JpegoptimUse:
        return ui->CheckBox_Jpegoptim;
    case S::JpegoptimPath:
        return ui->Edit_Jpegoptim;
    case S::JpegoptimStrip:
        return ui->CheckBox_Jpegoptim_Strip;
    case S::JpegoptimStripMode:
        return ui->RadioGroup6;
    case S::AdvPNGUse:
        return ui->CheckBox_AdvPNG;
    case S::AdvPNGPath:
        return ui->Edit_AdvPNG;
    case S::AdvPNGParam:
        return ui->Edit_AdvPNGParam;
    case S::AdvPNGUseParam:
        return ui->CheckBox_AdvPNGCommand;
    case S::AdvPNGCompressLevel:
        return ui->ScrollBar_AdvPNG;
    case S::OptiPNGUse:
        return ui->CheckBox_OptiPNG;
    case S::OptiPNGPath:
        return ui->Edit_OptiPNG;
    case S::OptiPNGParam:
        return ui->Edit_OptiPNGParam;
    case S::OptiPNGUseParam:
        return ui->CheckBox_OptiPNGCommand;
    case S::OptiPNGOptimizeLevel:
        return ui->ScrollBar1;
    case S::PNGCrushUse:
        return ui->CheckBox_PNGCrush;
    case S::PNGCrushPath:
        return ui->Edit_PNGCrush;
    case S::PNGCrushUseParam:
        return ui->CheckBox_PNGCrushCommand;
    case S::PNGCrushParam:
        return ui->Edit_PNGCrushParam;
    case S::PNGOUTUse:
        return ui->CheckBox_PNGOUT;
    case S::PNGOUTPath:
        return ui->Edit_PNGOUT;
    case S::PNGOUTParam:
        return ui->Edit_PNGOUTParam;
    case S::PNGOUTUseParam:
        return ui->CheckBox_PNGOUTCommand;
    case S::PNGRewriteUse:
        return ui->CheckBox_PNGRewrite;
    case S::PNGRewritePath:
        return ui->Edit_PNGRewrite;
    case S::cPNGCUse:
        return ui->CheckBox_cPNGC;
    case S::cPNGCPath:
        return ui->Edit_cPNGC;
    }
    return nullptr;
}

// Each value goes through its control, as a user's change would.
void TForm1::LoadSettings()
{
    if (!QFileInfo::exists(IniFilePath) && !WriteDefaultSettings())
        return; // the designed values stay for this run

    const tinsoke::SettingValues values = tinsoke::readSettings(tinsoke::loadIniFile(IniFilePath));
    const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
    move(tinsoke::windowPositionFor(valueOf(values, tinsoke::Setting::FormLeft).toInt(),
                                    valueOf(values, tinsoke::Setting::FormTop).toInt(), workArea));

    for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
        if (QWidget *control = settingControl(k.setting))
            setControlValue(control, valueOf(values, k.setting));
    }
}

void TForm1::SaveSettings()
{
    tinsoke::SettingValues values;
    valueOf(values, tinsoke::Setting::FormTop) = pos().y();
    valueOf(values, tinsoke::Setting::FormLeft) = pos().x();
    for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
        if (const QWidget *control = settingControl(k.setting))
            valueOf(values, k.setting) = controlValue(control);
    }

    bool readable = false;
    tinsoke::IniDocument document = tinsoke::loadIniFile(IniFilePath, &readable);
    if (!readable)
        return; // what could not be read is not overwritten
    tinsoke::writeSettings(document, values);
    tinsoke::saveIniFile(IniFilePath, document); // a failed save is not reported
}

// Creates the settings file from the default text, whole or not at all.
bool TForm1::WriteDefaultSettings()
{
    tinsoke::IniDocument text = tinsoke::IniDocument::fromBytes(tinsoke::defaultSettingsText());
    if (tinsoke::saveIniFile(IniFilePath, text))
        return true;
    messages::show(nullptr, QStringLiteral("エラー"),
                   QStringLiteral("Error\n\r") + IniFilePath + QStringLiteral("が生成できません。"),
                   QMessageBox::Critical);
    return false;
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
    m_listDropHook->setEnabled(false); // the list holds still during a run
    return true;
}

void TForm1::endRun()
{
    m_runInProgress = false;
    m_listDropHook->setEnabled(true);
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
    if (event->type() == QEvent::Show)
        pageShown(watched);
    if (watched == ui->ListView1 && event->type() == QEvent::KeyPress)
        return ListView1KeyDown(static_cast<QKeyEvent *>(event));
    if (watched == ui->ListView1 && event->type() == QEvent::KeyRelease)
        return ListView1KeyUp(static_cast<QKeyEvent *>(event));
    return QMainWindow::eventFilter(watched, event);
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
