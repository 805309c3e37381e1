#include "lvdata.h"

#include <utility>

namespace tinsoke {

QString &TLVData::field(int column)
{
    if (column >= FieldCount && ExtraSizes.size() <= column - FieldCount)
        ExtraSizes.resize(column - FieldCount + 1);
    return const_cast<QString &>(std::as_const(*this).field(column));
}

const QString &TLVData::field(int column) const
{
    if (column == 0)
        return FileName;
    if (column == 1)
        return Size;
    if (column >= 2 && column < PathColumn) // each tool's row names its field
        return this->*toolInfo(static_cast<Tool>(column - 2)).field;
    if (column >= FieldCount) {
        static const QString None;
        return column - FieldCount < ExtraSizes.size() ? ExtraSizes.at(column - FieldCount) : None;
    }
    return Path;
}

} // namespace tinsoke
