#include "listcolumns.h"

#include <algorithm>

namespace tinsoke {

namespace {

struct ColumnSpec {
    const char16_t *caption;
    int fixedWidth; // 0: shares the free width
};

constexpr std::array<ColumnSpec, ListColumnCount> Columns{{
    {u"ファイル名", 0},
    {u"Size", 0},
    {u"Jpegtran", 0},
    {u"Jpegoptim", 50},
    {u"AdvPNG", 50},
    {u"OptiPNG", 0},
    {u"PNGCrush", 50},
    {u"PNGOut", 0},
    {u"PNGRewrite", 0},
    {u"cPNGC", 50},
    {u"Path", 120},
}};

} // namespace

QString listColumnCaption(int column)
{
    return QString::fromUtf16(Columns.at(static_cast<std::size_t>(column)).caption);
}

std::array<int, ListColumnCount> listColumnWidths(int clientWidth)
{
    int fixedTotal = 0;
    int autoCount = 0;
    for (const ColumnSpec &c : Columns) {
        fixedTotal += c.fixedWidth;
        autoCount += c.fixedWidth == 0 ? 1 : 0;
    }
    const int free = std::max(0, clientWidth - fixedTotal);
    const int share = free / autoCount;

    std::array<int, ListColumnCount> widths{};
    for (std::size_t i = 0; i < Columns.size(); ++i)
        widths[i] = Columns[i].fixedWidth != 0 ? Columns[i].fixedWidth : share;
    widths[0] += free % autoCount;
    return widths;
}

} // namespace tinsoke
