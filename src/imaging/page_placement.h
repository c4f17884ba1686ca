// Pure: builds natively, no windows.h.
// Where a page's bitmap goes on the printer: unscaled at the printable area's
// corner, unscaled on the physical page, or stretched over the printable
// area.
#pragma once

#include <cstdint>

// The printer's page in device pixels, queried for every page.
struct PageMetrics {
    int printable_width;  // HORZRES
    int printable_height; // VERTRES
    int physical_width;   // PHYSICALWIDTH
    int physical_height;  // PHYSICALHEIGHT
    int offset_x;         // PHYSICALOFFSETX
    int offset_y;         // PHYSICALOFFSETY
};

enum class PagePlacement { AS_IS, PAGE_SIZE, FIT };

// A bitmap within this many pixels of the physical page, either way, is
// taken to be drawn for the physical page.
constexpr int64_t PAGE_SIZE_SLACK = 9;

// `rows` is the bitmap's height without its sign (a top-down bitmap has a
// negative biHeight).
PagePlacement choose_placement(uint32_t scale, int32_t width, uint32_t rows,
                               const PageMetrics &metrics);
