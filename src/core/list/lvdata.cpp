#include "lvdata.h"

#include <utility>

namespace tinsoke {

namespace {

// Where a size column's text is in Sizes: the tools' columns, then those after Path.
int sizeIndex(int column)
{
    return column < TLVData::PathColumn ? column - 2 : column - 3;
}

} // namespace

QString &TLVData::field(int column)
{
    if (column == 0)
        return FileName;
    if (column == 1)
        return Size;
    if (column == PathColumn || column < 0)
        return Path;
    // Not through the const reading: a record shares its list with the
    // record it was copied from, and only the writing access parts them.
    const int at = sizeIndex(column);
    if (Sizes.size() <= at)
        Sizes.resize(at + 1);
    return Sizes[at];
}

const QString &TLVData::field(int column) const
{
    static const QString None;
    if (column == 0)
        return FileName;
    if (column == 1)
        return Size;
    if (column == PathColumn || column < 0)
        return Path;
    const int at = sizeIndex(column);
    return at >= 0 && at < Sizes.size() ? Sizes.at(at) : None;
}

} // namespace tinsoke
