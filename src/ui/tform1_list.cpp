// The file list: drops, clearing, sorting by a column, its two keys and its clicks.
#include "tform1.h"
#include "ui_mainwindow.h"

#include "filedrop.h"
#include "filelistmodel.h"
#include "intake.h"
#include "listcolumns.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <utility>

void TForm1::setUpFileList()
{
    m_listModel = new tinsoke::FileListModel(this);
    ui->ListView1->setModel(m_listModel);
    QHeaderView *header = ui->ListView1->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSortIndicatorShown(false);
    QHeaderView *rows = ui->ListView1->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    ui->ListView1->viewport()->installEventFilter(this); // its size: the column widths
    ui->ListView1->installEventFilter(this);             // its keys
    connect(header, &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
    connect(m_listModel, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { fitSizeColumns(first, last); });
    connect(m_listModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                fitSizeColumns(from.row(), to.row());
            });
    connect(m_listModel, &QAbstractItemModel::modelReset, this, &TForm1::refitSizeColumns);
    connect(ui->Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(ui->Button_Revert, &QPushButton::clicked, this, &TForm1::Button_RevertClick);
    applyListColumnWidths();
}

void TForm1::applyListColumnWidths()
{
    const auto widths = tinsoke::listColumnWidths(ui->ListView1->viewport()->width());
    for (std::size_t c = 0; c < widths.size(); ++c)
        ui->ListView1->setColumnWidth(static_cast<int>(c),
                                      std::max(widths[c], m_sizeTextWidths[c]));
}

// A size column is widened when a number arrives that it would cut short.
// Digits are nearly alike in width, so only a number at least as long as
// the longest so far is measured.
void TForm1::fitSizeColumns(int firstRow, int lastRow)
{
    const QTableView *view = ui->ListView1;
    const QFontMetrics metrics(view->font());
    // The room an item's text leaves on either side, and the grid line.
    const int margins =
        2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) +
        (view->showGrid() ? 1 : 0);
    std::array<qsizetype, tinsoke::ListColumnCount> longest{};
    bool wider = false;
    for (int r = firstRow; r <= lastRow; ++r) {
        const tinsoke::TLVData record = m_listModel->ReadRow(r);
        for (int c = 1; c < tinsoke::TLVData::PathColumn; ++c) {
            const QString &text = record.field(c);
            const std::size_t i = static_cast<std::size_t>(c);
            if (text.isEmpty() || text.size() < longest[i])
                continue;
            longest[i] = text.size();
            const int needed = metrics.horizontalAdvance(text) + margins;
            if (needed > m_sizeTextWidths[i]) {
                m_sizeTextWidths[i] = needed;
                wider = wider || needed > view->columnWidth(c);
            }
        }
    }
    if (wider)
        applyListColumnWidths();
}

// Cleared or thinned out: the columns go back to what the rows left need.
void TForm1::refitSizeColumns()
{
    m_sizeTextWidths.fill(0);
    fitSizeColumns(0, m_listModel->rowCount() - 1);
    applyListColumnWidths();
}

void TForm1::DropFiles(const QStringList &paths)
{
    m_linksPassedOver += tinsoke::DropFiles(*m_listModel, paths);
}

void TForm1::Button3Click()
{
    if (m_runInProgress || m_listModel->rowCount() == 0)
        return;
    m_listModel->clear();
    ShowProgress(0, 0, 0);
    setStatusText(QString());
}

void TForm1::ListView1ColumnClick(int column)
{
    if (m_runInProgress)
        return; // rows keep their places while a run reads them by index
    SortDescending = !SortDescending;
    SortColumn = column;
    m_listModel->sortBy(SortColumn, SortDescending);
}

// Ctrl+A selects every row; the key still reaches the list.
bool TForm1::ListView1KeyDown(const QKeyEvent *event)
{
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier) &&
        m_listModel->rowCount() > 0)
        ui->ListView1->selectAll();
    return false;
}

// Delete, on release, removes the selected rows (never the files); the focus
// goes to the row where the removed block began, or to the new last row.
bool TForm1::ListView1KeyUp(const QKeyEvent *event)
{
    if (event->key() != Qt::Key_Delete || event->isAutoRepeat() || m_runInProgress ||
        m_listModel->rowCount() == 0)
        return false;
    QItemSelectionModel *selection = ui->ListView1->selectionModel();
    const QModelIndexList selected = selection->selectedRows();
    if (selected.isEmpty())
        return false;
    QList<int> rows;
    for (const QModelIndex &i : selected)
        rows.append(i.row());
    const int first = *std::min_element(rows.begin(), rows.end());
    m_listModel->removeRowsAt(rows);

    const int left = m_listModel->rowCount();
    if (left > 0) {
        const QModelIndex focus = m_listModel->index(std::min(first, left - 1), 0);
        selection->setCurrentIndex(focus, QItemSelectionModel::NoUpdate);
    }
    selection->clearSelection();
    return false;
}

// Clicks select as in a file manager: a plain click on a row of a
// multi-selection selects that row alone, and Ctrl+click adds or removes a
// row. The view would hold such a press back to see whether it starts a drag
// or an edit of the caption, and then keep the selection as it was; these
// presses and their releases are settled here instead and never reach it. A
// click on the one selected row still edits its caption.
bool TForm1::ListView1MouseButton(const QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    if (event->type() == QEvent::MouseButtonRelease)
        return std::exchange(m_listClickTaken, false);

    const QModelIndex at = ui->ListView1->indexAt(event->position().toPoint());
    const Qt::KeyboardModifiers keys =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    if (!at.isValid() || (keys != Qt::NoModifier && keys != Qt::ControlModifier))
        return false;
    QItemSelectionModel *selection = ui->ListView1->selectionModel();
    if (keys == Qt::ControlModifier) {
        selection->select(at, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
        selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    } else {
        const QItemSelection ranges = selection->selection();
        const bool severalRows =
            ranges.size() > 1 || (ranges.size() == 1 && ranges.first().height() > 1);
        if (!severalRows || !selection->isRowSelected(at.row()))
            return false; // the view's own handling is right here
        selection->setCurrentIndex(at,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_listClickTaken = true;
    return true;
}
