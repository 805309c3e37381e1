#include "listcolumns.h"

#include <algorithm>

namespace tinsoke {

namespace {

// Fixed widths of the columns; 0 marks a column that shares the free width.
// The name and the size share it; each tool's row gives its column's width.
std::array<int, ListColumnCount> fixedWidths()
{
    std::array<int, ListColumnCount> widths{};
    for (const Tool tool : AllTools)
        widths.at(static_cast<std::size_t>(toolInfo(tool).column)) = toolInfo(tool).columnWidth;
    widths.at(TLVData::PathColumn) = 120;
    return widths;
}

} // namespace

std::array<int, ListColumnCount> listColumnWidths(int clientWidth)
{
    static const std::array<int, ListColumnCount> FixedWidths = fixedWidths();
    int fixedTotal = 0;
    int autoCount = 0;
    for (const int fixed : FixedWidths) {
        fixedTotal += fixed;
        autoCount += fixed == 0 ? 1 : 0;
    }
    const int free = std::max(0, clientWidth - fixedTotal);
    const int share = free / autoCount;

    std::array<int, ListColumnCount> widths{};
    for (std::size_t i = 0; i < FixedWidths.size(); ++i)
        widths[i] = FixedWidths[i] != 0 ? FixedWidths[i] : share;
    widths[0] += free % autoCount;
    return widths;
}

} // namespace tinsoke
