// A picture as a page image of the printable size: fitted (as large as fits,
// centred) or placed as it is at the corner, one picture pixel per device
// pixel, cut off where it is larger; the rest of the page stays white.
#pragma once

#include <cstdint>
#include <string>

#include "page_image.h"
#include "picture_decode.h"

// Where the picture lies on the page, in page pixels; it may reach past the
// page when it is placed as it is.
struct PicturePlacement {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    bool operator==(const PicturePlacement &) const = default;
};

PicturePlacement place_picture(uint32_t width, uint32_t height, uint32_t page_width,
                               uint32_t page_height, bool fit);

// Writes the page file `folder`/page-NUMBER.bmp of `format` (RGB_8 or
// GRAY_8) with the picture on it; false with `error`.
bool draw_picture_page(const Picture &picture, bool fit, const RasterFormat &format,
                       uint64_t max_bytes, const std::string &folder, unsigned number,
                       std::string &path, std::string &error);
