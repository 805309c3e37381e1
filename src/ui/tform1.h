#pragma once

#include "listcolumns.h"
#include "revert.h"
#include "runengine.h"
#include "settings.h"
#include "tools.h"

#include <QMainWindow>
#include <QString>
#include <QThread>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class ExtraToolsPage;
class FileDropHook;
class ProgressBar;
class QCheckBox;
class QLabel;
class QLineEdit;
class QKeyEvent;
class QMouseEvent;
class QPushButton;
class QTimer;

namespace tinsoke {
class FileListModel;
class RunEngine;
struct RowResult;
} // namespace tinsoke

namespace Ui {
class TForm1;
}

// The program's one window: the file list, the tabbed settings pages and the
// status bar with the run's progress bar. It maps controls to the core and back.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // The settings file is the one tinsoke::settingsFilePath chooses for the
    // executable; a test may name another one.
    explicit TForm1(const QString &settingsPath = QString(), QWidget *parent = nullptr);
    ~TForm1() override;

    // Full path of the settings file in use.
    QString iniFilePath() const { return IniFilePath; }

    // Fills each empty tool path box with the tool's program found on PATH,
    // as if typed. When this start created the settings file, the tools found
    // are ticked too; later starts leave the ticks as stored.
    void findToolsOnPath();

    // Takes files and folders into the list as a drop does. During a run they
    // wait, and are taken in when it ends.
    void addPaths(const QStringList &paths);

    // The text right of the progress bar in the status bar.
    void setStatusText(const QString &text);

    // Moves the progress bar.
    void ShowProgress(int minimum, int maximum, int position);

    // A run brackets its work with these. A close request during a run stops
    // it; the window closes when the run has ended.
    bool beginRun();
    void endRun();
    bool runInProgress() const { return m_runInProgress; }
    // Ends every running tool; the files not finished stay as they were.
    void stopRun();

    // The rows of the file list.
    tinsoke::FileListModel &fileList() { return *m_listModel; }

    // Option words of a tool, composed from its page's controls.
    QStringList toolOptions(tinsoke::Tool tool) const;

    // The dialog that browses for a tool's executable, opening in folder: gives
    // the chosen file, or the empty text when the user cancels. Tests put
    // their own here.
    using OpenFileDialog =
        std::function<QString(QWidget *parent, const QString &folder, const QString &filter)>;
    void setOpenFileDialog(OpenFileDialog dialog) { m_openFileDialog = std::move(dialog); }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void Button1Click();
    void Button_RevertClick();
    void Button3Click();
    void ListView1ColumnClick(int column);

private:
    void setUpDesignedState();
    void placeClientArea();
    void placeStatusText();
    void FormCreate(const QString &settingsPath);
    void FormDestroy();
    void LoadSettings();
    void SaveSettings();
    bool WriteDefaultSettings();
    void reportSettingsFileError();
    void tellUnreadableSettings(const QList<tinsoke::SettingNote> &notes,
                                const tinsoke::SettingValues &values,
                                const QStringList &extraNotes);
    QWidget *settingControl(tinsoke::Setting setting) const;
    tinsoke::SettingValues controlValues() const;

    // The run.
    tinsoke::RunPlan takeRunPlan() const;
    void runRowFinished(const tinsoke::RowResult &result);
    void showFinishedRows();
    void runFinished();
    // 元に戻す: the last run's originals back from the Trash, off the window's thread.
    void revertFinished(const std::vector<tinsoke::RevertOutcome> &outcomes,
                        const QString &memoryProblem);
    void findWayBack();

    // The file list.
    void setUpFileList();
    void applyListColumnWidths();
    void fitSizeColumns(int firstRow, int lastRow);
    void refitSizeColumns();
    void DropFiles(const QStringList &paths);
    bool ListView1KeyDown(const QKeyEvent *event);
    bool ListView1KeyUp(const QKeyEvent *event);
    bool ListView1MouseButton(const QMouseEvent *event);

    // Tool pages and the about page.
    void wirePageHandlers();
    void hookToolPathBoxes();
    void browseForExecutable(QLineEdit *pathBox);
    void DropExecutable(const QStringList &paths);
    void pageShown(QObject *page);
    void TabSheet_CommonShow();
    // What a run holds still follows the one running state: the run and
    // clear buttons, the list's drops and sorting. Whatever page decides the
    // tools' availability, 実行 stays off until the run has ended.
    void applyRunState();
    // The page of the user's own tools, and their columns in the list.
    void setUpExtraToolsPage();
    void extraToolsChanged();
    void applyManualOption(const QCheckBox *tick, QLineEdit *options);
    void ScrollBar1Change(int position);
    void ScrollBar_AdvPNGChange(int position);
    void TabSheet_VersionShow();
    void LinkLabel_LinkClick(const QString &link);

    // Each tool's tick box, path box and browse button, in tool order.
    struct ToolControls {
        QCheckBox *tick;
        QLineEdit *path;
        QPushButton *browse;
    };
    std::array<ToolControls, tinsoke::ToolCount> toolControls() const;
    // A tool's manual option box, its tick and the page they are on.
    struct ManualOption {
        QWidget *page;
        QCheckBox *tick;
        QLineEdit *text;
    };
    std::vector<ManualOption> manualOptions() const;

    std::unique_ptr<Ui::TForm1> ui;
    tinsoke::FileListModel *m_listModel = nullptr;
    std::unique_ptr<FileDropHook> m_listDropHook;
    // The width each size column's longest number needs; the designed widths
    // are the least a column gets.
    std::array<int, tinsoke::ListColumnCount> m_sizeTextWidths{};
    int SortColumn = 0;
    bool SortDescending = false;
    QString IniFilePath;
    ProgressBar *RunProgress = nullptr;
    QLabel *Label_Status = nullptr;
    bool m_settingsCreated = false; // this start wrote the settings file
    QStringList m_pathsAfterRun;
    bool m_listClickTaken = false; // the list's press was handled here, so is its release
    std::unique_ptr<tinsoke::RunEngine> m_engine;
    // Rows finished since the list and the status bar last showed them.
    QList<tinsoke::RowResult> m_rowsToShow;
    // The list columns of each kind's chain in the running plan, by ImageKind:
    // where a remembered file says so.
    std::array<QList<int>, 2> m_chainColumns;
    bool m_memoryProblemTold = false; // told once per start of the program
    QTimer *m_showRowsTimer = nullptr;
    QString DroppedToolPath;
    std::vector<std::unique_ptr<FileDropHook>> m_pathBoxDropHooks;
    OpenFileDialog m_openFileDialog;
    bool m_runInProgress = false;
    bool m_anyToolAvailable = true; // as designed, until the 全体 page has looked
    ExtraToolsPage *m_extraPage = nullptr;
    bool m_closePending = false;
    bool m_canRevert = false;    // the memory holds the last run's way back
    QThread *m_revert = nullptr; // a revert under way
    bool m_settingsErrorShown = false;
    int m_linksPassedOver = 0; // left out by folder walks since the last run
};
