#pragma once

#include "lvdata.h"
#include "runreport.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

#include <array>

namespace tinsoke {

// Only names ending in ".jpg", ".jpeg" or ".png", in any letter case, are listed.
bool isListableImage(const QString &path);
// The same, looking only at the last five characters: quick for many paths.
bool hasListableExtension(QStringView path);

// The rows of the file list. Beside the rows it keeps an index of the listed
// paths in step with every change, so that taking n files in costs O(n)
// rather than a scan of the whole list for each. Paths are the same when they
// are the same text; on Windows, whose names ignore letter case, when they
// are the same lower-cased.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit FileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Only the caption can be edited in place.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Offers paths to the list, in order: each image path not listed yet
    // becomes a row at the end; the others are passed over. One model change.
    void addFiles(const QStringList &paths);

    bool isListed(const QString &path) const;

    // The columns after the path, one per tool of the user's own, headed by
    // its name. Rows keep their sizes by column number.
    void setExtraColumns(const QStringList &names);
    const QStringList &extraColumns() const { return m_extraNames; }

    // The record of a row; out of range, every field empty.
    TLVData ReadRow(int row) const;
    // Puts the record into a row and returns the row; with no row (-1) the
    // record is appended, even when its path is listed already.
    int WriteRow(int row, const TLVData &record);

    // Puts records into rows that are there, as WriteRow does, in one model
    // change over the rows they span; records for other rows are left out.
    void WriteRows(const QList<QPair<int, TLVData>> &records);

    // Shows what a run did to its rows, in one model change: each step's
    // size in its column; a row passed over shows no size at all, a row the
    // memory knew says so in each column of its chain. chainColumns: each
    // kind's step columns, by ImageKind.
    void applyResults(const QList<RowResult> &results,
                      const std::array<QList<int>, 2> &chainColumns);

    // Removes the given rows (any order) in one model change.
    void removeRowsAt(QList<int> rows);
    void clear();

    // Sorts by a column as the header click does: the caption with a-z folded,
    // sizes as numbers, the path lower-cased; descending reverses it.
    void sortBy(int column, bool descending);

private:
    void indexPath(const QString &path);
    void unindexPath(const QString &path);

    QList<TLVData> m_rows;
    QHash<QString, int> m_listed; // path as compared -> number of rows holding it
    QStringList m_extraNames;
};

} // namespace tinsoke
