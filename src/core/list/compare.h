#pragma once

#include "lvdata.h"

#include <QString>

namespace tinsoke {

// How two rows of the file list compare for a column: negative when the
// first belongs before the second. The caption compares with only the
// letters a to z folded to capitals, a prefix first; the path lower-cased;
// the size columns as numbers (blanks and control characters around them
// ignored, anything that is no whole number counting as 0).
int compareRows(const TLVData &a, const TLVData &b, int column);

// The same order through keys worked out once per row, for sorting many rows.
struct SortKey {
    QString text;
    qint64 number = 0;
};
SortKey sortKey(const TLVData &row, int column);
int compareKeys(const SortKey &a, const SortKey &b, int column);

} // namespace tinsoke
