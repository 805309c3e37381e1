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
    switch (column) {
    case 0:
        return FileName;
    case 1:
        return Size;
    case 2:
        return JpegtranSize;
    case 3:
        return JpegoptimSize;
    case 4:
        return AdvPNGSize;
    case 5:
        return OptiPNGSize;
    case 6:
        return PNGCrushSize;
    case 7:
        return PNGOutSize;
    case 8:
        return PNGRewriteSize;
    case 9:
        return cPNGCSize;
    default:
        if (column >= FieldCount) {
            static const QString None;
            return column - FieldCount < ExtraSizes.size() ? ExtraSizes.at(column - FieldCount)
                                                           : None;
        }
        return Path;
    }
}

} // namespace tinsoke
