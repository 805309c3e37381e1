#include "filelistmodel.h"

#include "compare.h"
#include "paths.h"
#include "runplan.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace tinsoke {

bool isListableImage(const QString &path)
{
    const QString ext = fileExtension(path).toLower();
    return ext == u".jpg" || ext == u".jpeg" || ext == u".png";
}

bool hasListableExtension(QStringView path)
{
    // No separator can fall inside these endings, so the name is all that is looked at.
    const auto endsWith = [path](QStringView ending) {
        return path.endsWith(ending, Qt::CaseInsensitive);
    };
    return endsWith(u".jpg") || endsWith(u".png") || endsWith(u".jpeg");
}

namespace {

// The caption of a list column; each tool's comes from its row of the table.
QString caption(int column)
{
    if (column == 0)
        return QStringLiteral("ファイル名");
    if (column == 1)
        return QStringLiteral("Size");
    if (column < TLVData::PathColumn)
        return QString::fromUtf16(toolInfo(static_cast<Tool>(column - 2)).caption);
    return QStringLiteral("Path");
}

// A path as the index compares it.
#ifdef Q_OS_WIN
QString listKey(const QString &path)
{
    return path.toLower();
}
#else
const QString &listKey(const QString &path)
{
    return path;
}
#endif

} // namespace

FileListModel::FileListModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : TLVData::FieldCount + static_cast<int>(m_extraNames.size());
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_rows.at(index.row()).field(index.column());
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    if (section >= TLVData::FieldCount)
        return m_extraNames.at(section - TLVData::FieldCount);
    return caption(section);
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f =
        Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == 0)
        f |= Qt::ItemIsEditable;
    return f;
}

bool FileListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        index.column() != 0)
        return false;
    m_rows[index.row()].FileName = value.toString();
    Q_EMIT dataChanged(index, index);
    return true;
}

void FileListModel::indexPath(const QString &path)
{
    ++m_listed[listKey(path)];
}

void FileListModel::unindexPath(const QString &path)
{
    const auto it = m_listed.find(listKey(path));
    if (it != m_listed.end() && --it.value() <= 0)
        m_listed.erase(it);
}

bool FileListModel::isListed(const QString &path) const
{
    return m_listed.contains(listKey(path));
}

void FileListModel::addFiles(const QStringList &paths)
{
    QList<TLVData> added;
    added.reserve(paths.size());
    for (const QString &path : paths) {
        // The same test as isListableImage, without making a copy of every path.
        if (!hasListableExtension(path))
            continue;
        QString key = listKey(path);
        if (m_listed.contains(key))
            continue;
        m_listed.insert(std::move(key), 1); // a second offer in this batch is seen too
        TLVData row;
        row.FileName = fileNameOf(path);
        row.Size = QString::number(GetFileSizeBytes(path));
        row.Path = path;
        added.append(std::move(row));
    }
    if (added.isEmpty())
        return;
    added.squeeze();
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    m_rows.append(std::move(added));
    endInsertRows();
}

TLVData FileListModel::ReadRow(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : TLVData();
}

int FileListModel::WriteRow(int row, const TLVData &record)
{
    if (row < 0 || row >= m_rows.size()) {
        row = static_cast<int>(m_rows.size());
        beginInsertRows(QModelIndex(), row, row);
        m_rows.append(record);
        indexPath(record.Path);
        endInsertRows();
        return row;
    }
    unindexPath(m_rows.at(row).Path);
    m_rows[row] = record;
    indexPath(record.Path);
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    return row;
}

void FileListModel::setExtraColumns(const QStringList &names)
{
    if (names == m_extraNames)
        return;
    const int was = static_cast<int>(m_extraNames.size());
    const int now = static_cast<int>(names.size());
    if (now < was) {
        beginRemoveColumns(QModelIndex(), TLVData::FieldCount + now, TLVData::FieldCount + was - 1);
        m_extraNames = names;
        endRemoveColumns();
    } else if (now > was) {
        beginInsertColumns(QModelIndex(), TLVData::FieldCount + was, TLVData::FieldCount + now - 1);
        m_extraNames = names;
        endInsertColumns();
    } else {
        m_extraNames = names;
    }
    if (now > 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, TLVData::FieldCount,
                                 TLVData::FieldCount + now - 1);
}

void FileListModel::WriteRows(const QList<QPair<int, TLVData>> &records)
{
    int first = static_cast<int>(m_rows.size());
    int last = -1;
    for (const auto &[row, record] : records) {
        if (row < 0 || row >= m_rows.size())
            continue;
        unindexPath(m_rows.at(row).Path);
        m_rows[row] = record;
        indexPath(record.Path);
        first = std::min(first, row);
        last = std::max(last, row);
    }
    if (last >= 0)
        Q_EMIT dataChanged(index(first, 0), index(last, columnCount() - 1));
}

void FileListModel::applyResults(const QList<RowResult> &results,
                                 const std::array<QList<int>, 2> &chainColumns)
{
    QList<QPair<int, TLVData>> records;
    records.reserve(results.size());
    for (const RowResult &result : results) {
        if (result.outcome == RowResult::Outcome::Stopped)
            continue;
        TLVData record = ReadRow(result.row);
        const auto kind = chainFor(record.Path, record.FileName);
        const QList<int> none;
        const QList<int> &chain = kind ? chainColumns.at(static_cast<std::size_t>(*kind)) : none;
        if (result.outcome == RowResult::Outcome::Remembered) {
            // No tool ran: each column of its chain says why.
            for (const int column : chain)
                record.field(column) = QStringLiteral("記憶済み");
            records.append({result.row, std::move(record)});
            continue;
        }
        // A failure never reads as a result.
        if (result.outcome == RowResult::Outcome::PassedOver) {
            for (const Tool tool : AllTools)
                record.field(toolInfo(tool).column).clear();
            for (const int column : chain)
                record.field(column).clear();
        }
        for (const RowResult::StepSize &step : result.steps)
            if (step.size)
                record.field(step.listColumn) = QString::number(*step.size);
        records.append({result.row, std::move(record)});
    }
    WriteRows(records);
}

void FileListModel::removeRowsAt(QList<int> rows)
{
    if (rows.isEmpty())
        return;
    std::vector<bool> doomed(static_cast<std::size_t>(m_rows.size()), false);
    for (int r : rows) {
        if (r >= 0 && r < m_rows.size())
            doomed[static_cast<std::size_t>(r)] = true;
    }
    beginResetModel();
    QList<TLVData> kept;
    kept.reserve(m_rows.size());
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (doomed[static_cast<std::size_t>(i)])
            unindexPath(m_rows.at(i).Path);
        else
            kept.append(std::move(m_rows[i]));
    }
    m_rows = std::move(kept);
    endResetModel();
}

void FileListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_listed.clear();
    endResetModel();
}

void FileListModel::sortBy(int column, bool descending)
{
    const std::size_t n = static_cast<std::size_t>(m_rows.size());
    std::vector<SortKey> keys;
    keys.reserve(n);
    for (const TLVData &row : std::as_const(m_rows))
        keys.push_back(sortKey(row, column));
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = compareKeys(keys[static_cast<std::size_t>(a)],
                                  keys[static_cast<std::size_t>(b)], column);
        return descending ? c > 0 : c < 0;
    });

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<TLVData> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRowOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        sorted.append(std::move(m_rows[order[i]]));
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_rows = std::move(sorted);
    // Selection and focus stay with their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &i : before)
        after.append(index(newRowOf[static_cast<std::size_t>(i.row())], i.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tinsoke
