#include "tform1.h"
#include "ui_mainwindow.h"

#include "controlnames.h"
#include "extratoolspage.h"
#include "filedrop.h"
#include "messages.h"
#include "paths.h"
#include "programicon.h"
#include "progressbar.h"
#include "radiogroup.h"
#include "runhost.h"
#include "tools.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const QString DesignFontFamily = QStringLiteral("ＭＳ Ｐゴシック");

// The designed client size; the window can grow from it, never shrink below it.
constexpr QSize DesignedSize(632, 453);
// The height of the tool pages below the list; they keep it as the window grows.
constexpr int PagesHeight = 213;

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

// Programs on Windows end in ".exe"; elsewhere the path captions name the tool alone.
void fitProgramCaptionsToSystem(QWidget *root)
{
#ifndef Q_OS_WIN
    const auto labels = root->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text().startsWith(QStringLiteral("実行ファイル(")))
            label->setText(label->text().replace(QStringLiteral(".exe)"), QStringLiteral(")")));
    }
#else
    Q_UNUSED(root);
#endif
}

// A setting's value as its control holds it: an item index, a bar or box
// position, a tick or a text.
QVariant controlValue(const QWidget *control)
{
    if (auto *group = qobject_cast<const RadioGroup *>(control))
        return group->itemIndex();
    if (auto *bar = qobject_cast<const QScrollBar *>(control))
        return bar->value();
    if (auto *spin = qobject_cast<const QSpinBox *>(control))
        return spin->value();
    if (auto *box = qobject_cast<const QCheckBox *>(control))
        return box->isChecked();
    return qobject_cast<const QLineEdit *>(control)->text();
}

// Gives a control a value the way a user's change would, so its own handlers
// run, and only when the value really changes. Radio groups, scroll bars and
// spin boxes keep a stored number within their items and range.
void setControlValue(QWidget *control, const QVariant &value)
{
    if (auto *group = qobject_cast<RadioGroup *>(control))
        group->setItemIndex(value.toInt());
    else if (auto *bar = qobject_cast<QScrollBar *>(control))
        bar->setValue(value.toInt());
    else if (auto *spin = qobject_cast<QSpinBox *>(control))
        spin->setValue(value.toInt());
    else if (auto *box = qobject_cast<QCheckBox *>(control))
        box->setChecked(value.toBool());
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setText(value.toString());
}

} // namespace

TForm1::TForm1(const QString &settingsPath, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
{
    registerFontSubstitutes();
    setFont(designFont(12));
    ui->setupUi(this);
    setUpDesignedState();
    wirePageHandlers();
    setUpExtraToolsPage();
    FormCreate(settingsPath);
}

TForm1::~TForm1()
{
    // A revert under way writes the user's files and then calls back here:
    // it ends first, and its call back is dropped with the window.
    if (m_revert) {
        m_revert->wait();
        delete std::exchange(m_revert, nullptr);
    }
    FormDestroy();
}

// What the form file cannot say: window frame, fonts in pixels, sizes that
// follow the fonts, the list's model.
void TForm1::setUpDesignedState()
{
    setMinimumSize(DesignedSize);
    resize(DesignedSize);
    move(190, 106);
    setWindowIcon(programIcon());

    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    ui->Label_Version->setFont(designFont(16));
    fitProgramCaptionsToSystem(this);
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
    // The list takes what the window grows by; the pages stay below it.
    ui->ClientArea->installEventFilter(this);
}

void TForm1::placeClientArea()
{
    const int width = ui->ClientArea->width();
    const int listHeight = std::max(0, ui->ClientArea->height() - PagesHeight);
    ui->ListView1->setGeometry(0, 0, width, listHeight);
    ui->PageControl1->setGeometry(0, listHeight, width, PagesHeight);
}

// The summary takes the status bar's width right of the progress bar.
void TForm1::placeStatusText()
{
    const int left = RunProgress->geometry().right() + 1 + 6;
    Label_Status->setGeometry(left, RunProgress->y(),
                              std::max(0, ui->StatusBar1->width() - left - 4),
                              RunProgress->height());
}

void TForm1::FormCreate(const QString &settingsPath)
{
    // 1. Beside the executable, named like it, where that folder takes new
    // files; otherwise in the user's configuration folder.
    IniFilePath = settingsPath.isEmpty()
                      ? tinsoke::settingsFilePath(QCoreApplication::applicationFilePath())
                      : settingsPath;

    // 2. Before any drop hook and before the progress bar.
    LoadSettings();

    // 3. The file list takes dropped files and folders.
    m_listDropHook = std::make_unique<FileDropHook>(
        ui->ListView1->viewport(), [this](const QStringList &paths) { DropFiles(paths); });
    // 4. Each tool's path box takes dropped executables, in tool order.
    hookToolPathBoxes();

    // 5. The progress bar lives inside the status bar, below its top edge.
    RunProgress = new ProgressBar(ui->StatusBar1);
    RunProgress->setObjectName(QStringLiteral("RunProgress"));
    RunProgress->setRange(0, 100);
    RunProgress->setValue(0);
    RunProgress->setGeometry(0, 2, 150, ui->StatusBar1->height() - 2);
    RunProgress->show();
    // Right of it, what the run has done so far and, at its end, what it saved.
    Label_Status = new QLabel(ui->StatusBar1);
    Label_Status->setObjectName(QStringLiteral("Label_Status"));
    placeStatusText();
    Label_Status->show();
    ui->StatusBar1->installEventFilter(this);

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

#ifdef Q_OS_WIN
    // The Trash the originals go to is the freedesktop one.
    ui->CheckBox_Trash->setEnabled(false);
#endif

    // 9. The user's own tools, read with the settings, get their columns.
    extraToolsChanged();

    // 10. 元に戻す holds the way back a run before this start left.
    findWayBack();
}

void TForm1::FormDestroy()
{
    // 1. While the controls still hold their values.
    SaveSettings();
    // 2. Drops are withdrawn: the list first, then the tools' path boxes in tool order.
    m_listDropHook.reset();
    m_pathBoxDropHooks.clear();
}

// Which control holds each setting; the window position is the form's own.
QWidget *TForm1::settingControl(tinsoke::Setting setting) const
{
    const QString name = settingControlName(setting);
    return name.isEmpty() ? nullptr : findChild<QWidget *>(name);
}

// Every setting a control holds, as it holds it now.
tinsoke::SettingValues TForm1::controlValues() const
{
    tinsoke::SettingValues values;
    for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
        if (const QWidget *control = settingControl(k.setting))
            valueOf(values, k.setting) = controlValue(control);
    }
    return values;
}

// Each value goes through its control, as a user's change would.
void TForm1::LoadSettings()
{
    if (!QFileInfo::exists(IniFilePath)) {
        if (!WriteDefaultSettings())
            return; // the designed values stay for this run
        m_settingsCreated = true;
    }

    using S = tinsoke::Setting;
    QList<tinsoke::SettingNote> notes;
    const tinsoke::IniDocument document = tinsoke::loadIniFile(IniFilePath);
    const tinsoke::SettingValues values = tinsoke::readSettings(document, &notes);
    QStringList extraNotes;
    {
        // The list's columns follow once the drop hooks are there (FormCreate).
        const QSignalBlocker quiet(m_extraPage);
        m_extraPage->setTools(tinsoke::readExtraTools(document, &extraNotes));
    }
    tellUnreadableSettings(notes, values, extraNotes);
    const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
    resize(tinsoke::windowSizeFor(valueOf(values, S::FormWidth).toInt(),
                                  valueOf(values, S::FormHeight).toInt(), DesignedSize, workArea));
    move(tinsoke::windowPositionFor(valueOf(values, S::FormLeft).toInt(),
                                    valueOf(values, S::FormTop).toInt(), workArea));

    for (const tinsoke::SettingKey &k : tinsoke::settingKeys()) {
        if (QWidget *control = settingControl(k.setting))
            setControlValue(control, valueOf(values, k.setting));
    }
}

// Values no save of ours writes are told once, when the window is up; a key
// that is missing keeps its default silently, as an empty file's keys do.
void TForm1::tellUnreadableSettings(const QList<tinsoke::SettingNote> &notes,
                                    const tinsoke::SettingValues &values,
                                    const QStringList &extraNotes)
{
    QStringList lines;
    for (const QString &note : extraNotes)
        lines.append(note + QStringLiteral("このツールは使いません。"));
    for (const tinsoke::SettingNote &note : notes) {
        if (note.kind != tinsoke::SettingNote::Kind::Missing)
            lines.append(tinsoke::settingNoteText(note, values));
    }
    if (lines.isEmpty())
        return;
    const QString text = IniFilePath + u'\n' + lines.join(u'\n');
    QTimer::singleShot(0, this, [this, text] {
        messages::show(this, QStringLiteral("設定ファイル"), text, QMessageBox::Warning);
    });
}

void TForm1::SaveSettings()
{
    using S = tinsoke::Setting;
    tinsoke::SettingValues values = controlValues();
    valueOf(values, S::FormTop) = pos().y();
    valueOf(values, S::FormLeft) = pos().x();
    // A maximised window keeps the size it comes back to.
    const QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
    valueOf(values, S::FormWidth) = size.width();
    valueOf(values, S::FormHeight) = size.height();

    bool readable = false;
    tinsoke::IniDocument document = tinsoke::loadIniFile(IniFilePath, &readable);
    if (!readable)
        return; // what could not be read is not overwritten
    tinsoke::writeSettings(document, values);
    tinsoke::writeExtraTools(document, m_extraPage->tools());
    if (!tinsoke::saveIniFile(IniFilePath, document)) // the old file stays as it was
        reportSettingsFileError();
}

// The settings file could not be written: told once, however often it fails.
void TForm1::reportSettingsFileError()
{
    if (std::exchange(m_settingsErrorShown, true))
        return;
    messages::show(nullptr, QStringLiteral("エラー"),
                   QStringLiteral("Error\n\r") + IniFilePath + QStringLiteral("が生成できません。"),
                   QMessageBox::Critical);
}

// Creates the settings file from the default text, whole or not at all, and
// the folder it goes in when that is missing.
bool TForm1::WriteDefaultSettings()
{
    tinsoke::IniDocument text = tinsoke::IniDocument::fromBytes(tinsoke::defaultSettingsText());
    if (QDir().mkpath(QFileInfo(IniFilePath).absolutePath()) &&
        tinsoke::saveIniFile(IniFilePath, text))
        return true;
    reportSettingsFileError();
    return false;
}

void TForm1::ShowProgress(int minimum, int maximum, int position)
{
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
    applyRunState();
    return true;
}

void TForm1::endRun()
{
    m_runInProgress = false;
    applyRunState();
    if (!m_pathsAfterRun.isEmpty())
        DropFiles(std::exchange(m_pathsAfterRun, {}));
    if (m_closePending) {
        m_closePending = false;
        close();
    }
}

void TForm1::applyRunState()
{
    const bool running = m_runInProgress;
    ui->Button1->setEnabled(!running && m_anyToolAvailable);
    ui->Button_Stop->setEnabled(running);
    ui->Button_Revert->setEnabled(!running && m_canRevert);
    ui->Button3->setEnabled(!running);
    m_listDropHook->setEnabled(!running); // the list holds still during a run
    ui->ListView1->horizontalHeader()->setSectionsClickable(!running);
    m_extraPage->setRunning(running);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (m_runInProgress) {
        // Closing asks nothing: the run stops, and the window closes when it has.
        m_closePending = true;
        stopRun();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TForm1::findToolsOnPath()
{
    const auto controls = toolControls();
    for (const tinsoke::Tool tool : tinsoke::AllTools) {
        const ToolControls &t = controls.at(static_cast<std::size_t>(tool));
        if (!t.path->text().isEmpty())
            continue;
        const QString found = tinsoke::toolOnPath(tool);
        if (found.isEmpty())
            continue;
        t.path->setText(found);
        if (m_settingsCreated)
            t.tick->setChecked(true);
    }
    if (ui->PageControl1->currentWidget() == ui->TabSheet_Common)
        TabSheet_CommonShow(); // the 全体 page may be on screen already
}

void TForm1::addPaths(const QStringList &paths)
{
    if (m_runInProgress)
        m_pathsAfterRun += paths; // the list holds still during a run
    else
        DropFiles(paths);
}

void TForm1::setStatusText(const QString &text)
{
    Label_Status->setText(text);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->ClientArea && event->type() == QEvent::Resize)
        placeClientArea();
    if (watched == ui->StatusBar1 && event->type() == QEvent::Resize)
        placeStatusText();
    if (watched == ui->ListView1->viewport() && event->type() == QEvent::Resize)
        applyListColumnWidths();
    if (watched == ui->ListView1->viewport() &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonRelease) &&
        ListView1MouseButton(static_cast<QMouseEvent *>(event)))
        return true;
    if (event->type() == QEvent::Show)
        pageShown(watched);
    if (watched == ui->ListView1 && event->type() == QEvent::KeyPress)
        return ListView1KeyDown(static_cast<QKeyEvent *>(event));
    if (watched == ui->ListView1 && event->type() == QEvent::KeyRelease)
        return ListView1KeyUp(static_cast<QKeyEvent *>(event));
    return QMainWindow::eventFilter(watched, event);
}

QStringList TForm1::toolOptions(tinsoke::Tool tool) const
{
    return tinsoke::toolInfo(tool).options(tinsoke::toolSettings(controlValues(), tool));
}
