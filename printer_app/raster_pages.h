// A raster document's pages, found before any of them prints: how many
// there are, and whether each can print. The document is PWG or Apple
// raster as a client sent it, so every size is bounded before it is used
// and every read is bounded by the bytes received.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// What a page header says, in the printer system's terms.
struct RasterPage {
    uint32_t width = 0, height = 0; // pixels
    uint32_t bits_per_color = 0, bits_per_pixel = 0, bytes_per_line = 0;
    uint32_t colour_order = 0, colour_space = 0;
    uint32_t colours = 0; // 0: as many as the colour space has
    uint32_t x_dpi = 0, y_dpi = 0;
};

// Why the page cannot print: a layout the driver does not take, lines
// that do not match the width, or a page image of more than
// `max_page_bytes`; empty when it can.
std::string raster_page_problem(const RasterPage &page, uint64_t max_page_bytes);

struct RasterCount {
    uint64_t pages = 0;  // what the document says it has, else what was found
    std::string refusal; // why it cannot print; empty when it can
};

// The pages of a raster document in any of the forms the printer system's
// reader takes. The first page's total (the Apple file header's) is taken
// when there is one; otherwise each page is walked, its header checked and
// its compressed lines stepped over without being decoded, until more
// than `max_pages` are found.
RasterCount count_raster_pages(std::span<const unsigned char> data, uint64_t max_pages,
                               uint64_t max_page_bytes);
