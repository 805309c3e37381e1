#include "listcolumns.h"

#include <algorithm>

namespace tinsoke {

namespace {

// Fixed widths of the columns; 0 marks a column that shares the free width.
constexpr std::array<int, ListColumnCount> FixedWidths{0, 0, 0, 50, 50, 0, 50, 0, 0, 50, 120};

} // namespace

std::array<int, ListColumnCount> listColumnWidths(int clientWidth)
{
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
