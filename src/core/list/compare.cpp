#include "compare.h"

#include "text.h"

namespace tinsoke {

namespace {

bool comparesAsNumber(int column)
{
    // The sizes, the user's own tools' after the path included.
    return (column >= 1 && column < TLVData::PathColumn) || column >= TLVData::FieldCount;
}

qint64 cellNumber(const QString &cell)
{
    bool ok = false;
    const qint64 n = trimmedOfControls(cell).toLongLong(&ok, 10);
    return ok ? n : 0;
}

// Code unit by code unit; when one is a prefix of the other, the shorter first.
int compareCodeUnits(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a.at(i) != b.at(i))
            return a.at(i).unicode() - b.at(i).unicode();
    }
    return static_cast<int>(a.size() - b.size());
}

} // namespace

SortKey sortKey(const TLVData &row, int column)
{
    SortKey key;
    if (column == 0)
        key.text = foldAsciiLetters(row.FileName);
    else if (comparesAsNumber(column))
        key.number = cellNumber(row.field(column));
    else
        key.text = row.Path.toLower();
    return key;
}

int compareKeys(const SortKey &a, const SortKey &b, int column)
{
    if (comparesAsNumber(column))
        return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    return compareCodeUnits(a.text, b.text);
}

int compareRows(const TLVData &a, const TLVData &b, int column)
{
    return compareKeys(sortKey(a, column), sortKey(b, column), column);
}

} // namespace tinsoke
