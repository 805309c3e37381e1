#pragma once

#include "lvdata.h"

#include <array>

namespace tinsoke {

constexpr int ListColumnCount = TLVData::FieldCount;

// Column widths for a list whose client area is clientWidth wide: the fixed
// columns keep their widths, the others share what is left equally and the
// first column also takes the remainder of that division.
std::array<int, ListColumnCount> listColumnWidths(int clientWidth);

} // namespace tinsoke
