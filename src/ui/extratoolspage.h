#pragma once

#include "extratools.h"

#include <QWidget>

#include <functional>
#include <memory>

class FileDropHook;
class QComboBox;
class QPushButton;
class QTableWidget;

// The page "追加ツール": the user's own tools, one row each (a tick, a name,
// a kind, the program and the argument line), added, removed, moved, browsed
// for, dropped on, or taken from the ready ones found on PATH.
class ExtraToolsPage : public QWidget {
    Q_OBJECT

public:
    using BrowseDialog = std::function<QString(const QString &startPath)>;

    explicit ExtraToolsPage(BrowseDialog browse, QWidget *parent = nullptr);
    ~ExtraToolsPage() override;

    void setTools(const QList<tinsoke::ExtraTool> &tools);
    QList<tinsoke::ExtraTool> tools() const;

    // The ready tools offered, given the programs found (tests offer their own).
    void setPresets(const QList<tinsoke::ExtraTool> &presets);
    // While a run goes on nothing here changes.
    void setRunning(bool running);

Q_SIGNALS:
    void toolsChanged();

private:
    void insertRow(int row, const tinsoke::ExtraTool &tool);
    tinsoke::ExtraTool toolAt(int row) const;
    void moveRow(int by);
    void updateButtons();

    BrowseDialog m_browse;
    QTableWidget *m_table;
    QPushButton *m_add, *m_remove, *m_up, *m_down, *m_browseButton, *m_takePreset;
    QComboBox *m_presetBox;
    QList<tinsoke::ExtraTool> m_presets;
    std::unique_ptr<FileDropHook> m_dropHook;
    bool m_running = false;
};
