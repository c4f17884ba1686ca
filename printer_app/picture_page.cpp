#include "picture_page.h"

#include <algorithm>
#include <cmath>
#include <vector>

PicturePlacement place_picture(uint32_t width, uint32_t height, uint32_t page_width,
                               uint32_t page_height, bool fit) {
    if (!fit || width == 0 || height == 0)
        return {0, 0, width, height};
    double scale = std::min(double(page_width) / width, double(page_height) / height);
    uint32_t w = std::max<uint32_t>(1, uint32_t(std::lround(width * scale)));
    uint32_t h = std::max<uint32_t>(1, uint32_t(std::lround(height * scale)));
    w = std::min(w, page_width);
    h = std::min(h, page_height);
    return {(page_width - w) / 2, (page_height - h) / 2, w, h};
}

namespace {

// One page line, white already: the picture's row `source` sampled over the
// placement's columns (the nearest picture pixel to each).
void picture_line(const Picture &p, const PicturePlacement &at, uint32_t source,
                  const RasterFormat &format, std::vector<unsigned char> &line) {
    const int out_depth = format.kind == PixelKind::RGB_8 ? 3 : 1;
    const unsigned char *row = p.pixels.data() + size_t(source) * p.width * size_t(p.depth);
    uint32_t end = std::min(at.left + at.width, format.width);
    for (uint32_t x = at.left; x < end; ++x) {
        const unsigned char *pixel =
            row + size_t(uint64_t(x - at.left) * p.width / at.width) * size_t(p.depth);
        unsigned char *out = line.data() + size_t(x) * size_t(out_depth);
        if (out_depth == 3)
            for (int c = 0; c < 3; ++c)
                out[c] = pixel[p.depth == 3 ? c : 0];
        else
            out[0] =
                p.depth == 3
                    ? (unsigned char)((pixel[0] * 299 + pixel[1] * 587 + pixel[2] * 114) / 1000)
                    : pixel[0];
    }
}

} // namespace

bool draw_picture_page(const Picture &picture, bool fit, const RasterFormat &format,
                       uint64_t max_bytes, const std::string &folder, unsigned number,
                       std::string &path, std::string &error) {
    PageFile page;
    if (!page_file_create(page, folder, number, format, max_bytes, error))
        return false;
    PicturePlacement at =
        place_picture(picture.width, picture.height, format.width, format.height, fit);
    std::vector<unsigned char> line(format.bytes_per_line);
    bool written = true;
    for (uint32_t y = 0; y < format.height && written; ++y) {
        bool inside = y >= at.top && y - at.top < at.height;
        std::fill(line.begin(), line.end(), 255);
        if (inside)
            picture_line(picture, at, uint32_t(uint64_t(y - at.top) * picture.height / at.height),
                         format, line);
        written = page_file_write_line(page, y, line.data(), line.size());
    }
    if (!written || !page_file_finish(page)) {
        error = "the picture's page cannot be written in " + folder;
        page_file_discard(page);
        return false;
    }
    path = page.path;
    return true;
}
