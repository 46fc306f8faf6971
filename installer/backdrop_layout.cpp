#include "installer/backdrop_layout.h"

namespace {

// Arial Bold's advance widths, in units of 2048 to the em, for the code
// page 1252 characters 0x20 to 0xFF (read from Liberation Sans Bold, which
// has Arial's metrics; unassigned codes take the missing glyph's width).
// A font's cell height spans its ascent and descent, which together are
// this many units: the em is that much smaller than the cell.
constexpr int CellUnits = 1854 + 434;
constexpr unsigned char FirstCharacter = 0x20;
constexpr uint16_t Advances[256 - FirstCharacter] = {
    569, 682, 971, 1139, 1139, 1821, 1479, 487, 682, 682, 797, 1196, 569, 682, 569, 569,
    1139, 1139, 1139, 1139, 1139, 1139, 1139, 1139, 1139, 1139, 682, 682, 1196, 1196, 1196, 1251,
    1997, 1479, 1479, 1479, 1479, 1366, 1251, 1593, 1479, 569, 1139, 1479, 1251, 1706, 1479, 1593,
    1366, 1593, 1479, 1366, 1251, 1479, 1366, 1933, 1366, 1366, 1251, 682, 569, 682, 1196, 1139,
    682, 1139, 1251, 1139, 1251, 1139, 682, 1251, 1251, 569, 569, 1139, 569, 1821, 1251, 1251,
    1251, 1251, 797, 1139, 682, 1251, 1139, 1593, 1139, 1139, 1024, 797, 573, 797, 1196, 748,
    1139, 748, 569, 1139, 1024, 2048, 1139, 1139, 682, 2048, 1366, 682, 2048, 748, 1251, 748,
    748, 569, 569, 1024, 1024, 717, 1139, 2048, 682, 2048, 1139, 682, 1933, 748, 1024, 1366,
    569, 682, 1139, 1139, 1139, 1139, 573, 1139, 682, 1509, 758, 1139, 1196, 682, 1509, 1131,
    819, 1124, 682, 682, 682, 1180, 1139, 569, 682, 682, 748, 1139, 1708, 1708, 1708, 1251,
    1479, 1479, 1479, 1479, 1479, 1479, 2048, 1479, 1366, 1366, 1366, 1366, 569, 569, 569, 569,
    1479, 1479, 1593, 1593, 1593, 1593, 1593, 1196, 1593, 1479, 1479, 1479, 1479, 1366, 1366, 1251,
    1139, 1139, 1139, 1139, 1139, 1139, 1821, 1139, 1139, 1139, 1139, 1139, 569, 569, 569, 569,
    1251, 1251, 1251, 1251, 1251, 1251, 1251, 1124, 1251, 1251, 1251, 1251, 1251, 1139, 1251, 1139,
};

}  // namespace

BackdropFontHeights BackdropFontHeightsFor(int screenWidth) {
    if (screenWidth >= 1 && screenWidth <= 599) return {60, 20};
    if (screenWidth >= 600 && screenWidth <= 900) return {80, 25};
    return {100, 30};
}

int32_t BackdropTitleWidth(const char* text, int cellHeight) {
    int32_t width = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < FirstCharacter) continue;
        int32_t scaled = static_cast<int32_t>(Advances[*p - FirstCharacter]) * cellHeight;
        width += (scaled + CellUnits / 2) / CellUnits;
    }
    return width;
}
