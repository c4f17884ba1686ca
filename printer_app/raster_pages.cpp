#include "raster_pages.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <cups/raster.h>

#include "job_limits.h"
#include "page_image.h"

namespace {

// The stream's first bytes say its form, as the printer system's reader
// tells them apart: the header's size, whether lines are compressed, the
// byte order of the header's numbers, and Apple raster's own header.
struct Form {
    char sync[4];
    size_t header;
    bool compressed, little_endian, apple;
};

constexpr Form FORMS[] = {
    {{'R', 'a', 'S', 't'}, 420, false, false, false},
    {{'t', 'S', 'a', 'R'}, 420, false, true, false},
    {{'R', 'a', 'S', '2'}, 1796, true, false, false},
    {{'2', 'S', 'a', 'R'}, 1796, true, true, false},
    {{'R', 'a', 'S', '3'}, 1796, false, false, false},
    {{'3', 'S', 'a', 'R'}, 1796, false, true, false},
    {{'U', 'N', 'I', 'R'}, 32, true, false, true},
    {{'R', 'I', 'N', 'U'}, 32, true, false, true},
};

// After Apple raster's sync word: the rest of "UNIRAST\0", then the page total.
constexpr size_t APPLE_FILE_HEADER = 8;
// Where a PWG header keeps its numbers.
constexpr size_t PWG_RESOLUTION = 276, PWG_WIDTH = 372, PWG_BITS_PER_COLOR = 384, PWG_COLOURS = 420,
                 PWG_TOTAL_PAGES = 452;

// The bytes of the document not yet read; every read is bounded by them.
struct Reader {
    std::span<const unsigned char> data;
    size_t at = 0;

    const unsigned char *take(uint64_t count) {
        if (data.size() - at < count)
            return nullptr;
        at += size_t(count);
        return data.data() + at - count;
    }
    const unsigned char *peek(size_t count) const {
        return data.size() - at < count ? nullptr : data.data() + at;
    }
};

uint32_t word(const unsigned char *p, bool little_endian) {
    if (little_endian)
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

RasterPage pwg_page(const unsigned char *h, const Form &form) {
    auto at = [&](size_t offset) { return word(h + offset, form.little_endian); };
    RasterPage p;
    p.x_dpi = at(PWG_RESOLUTION);
    p.y_dpi = at(PWG_RESOLUTION + 4);
    p.width = at(PWG_WIDTH);
    p.height = at(PWG_WIDTH + 4);
    p.bits_per_color = at(PWG_BITS_PER_COLOR);
    p.bits_per_pixel = at(PWG_BITS_PER_COLOR + 4);
    p.bytes_per_line = at(PWG_BITS_PER_COLOR + 8);
    p.colour_order = at(PWG_BITS_PER_COLOR + 12);
    p.colour_space = at(PWG_BITS_PER_COLOR + 16);
    p.colours = form.header > PWG_COLOURS ? at(PWG_COLOURS) : 0; // version 1 has none
    return p;
}

RasterPage apple_page(const unsigned char *h) {
    static const uint32_t spaces[] = {CUPS_CSPACE_SW,       CUPS_CSPACE_SRGB, CUPS_CSPACE_CIELab,
                                      CUPS_CSPACE_ADOBERGB, CUPS_CSPACE_W,    CUPS_CSPACE_RGB,
                                      CUPS_CSPACE_CMYK};
    static const uint32_t colours[] = {1, 3, 3, 3, 1, 3, 4};
    bool known = h[1] < std::size(spaces);
    RasterPage p;
    p.bits_per_pixel = h[0];
    p.colour_space = known ? spaces[h[1]] : uint32_t(CUPS_CSPACE_DEVICE1);
    p.colours = known ? colours[h[1]] : 1;
    p.bits_per_color = p.bits_per_pixel / p.colours;
    p.width = word(h + 12, false);
    p.height = word(h + 16, false);
    p.bytes_per_line = uint32_t(uint64_t(p.width) * p.bits_per_pixel / 8);
    p.x_dpi = p.y_dpi = word(h + 20, false);
    return p;
}

// Steps over one line: runs of one pixel repeated, runs of pixels as they
// are, and a code that makes the rest of the line white.
bool skip_line(Reader &in, uint64_t line_bytes, uint64_t pixel_bytes) {
    for (uint64_t left = line_bytes; left > 0;) {
        const unsigned char *code = in.take(1);
        if (!code)
            return false;
        if (*code == 128)
            return true;
        bool literal = *code > 128;
        uint64_t run =
            std::min<uint64_t>((literal ? 257u - *code : *code + 1u) * pixel_bytes, left);
        if (!in.take(literal ? run : pixel_bytes))
            return false;
        left -= run;
    }
    return true;
}

// Steps over the page's lines: each compressed group of lines is one line
// and a count of repeats, and may claim more lines than the page has left.
bool skip_lines(Reader &in, const RasterPage &p, const Form &form) {
    if (!form.compressed)
        return in.take(uint64_t(p.bytes_per_line) * p.height) != nullptr;
    const uint64_t pixel_bytes = std::max(1u, (p.bits_per_pixel + 7) / 8);
    for (uint64_t rows = p.height; rows > 0;) {
        const unsigned char *repeat = in.take(1);
        if (!repeat || !skip_line(in, p.bytes_per_line, pixel_bytes))
            return false;
        rows -= std::min<uint64_t>(*repeat + 1u, rows);
    }
    return true;
}

std::string pages_found(Reader &in, const Form &form, uint64_t max_pages, uint64_t max_page_bytes,
                        uint64_t &pages) {
    for (const unsigned char *h; (h = in.take(form.header)) != nullptr;) {
        if (++pages > max_pages)
            return "the document has more than " + std::to_string(max_pages) + " pages";
        RasterPage page = form.apple ? apple_page(h) : pwg_page(h, form);
        std::string where = "page " + std::to_string(pages) + ": ";
        if (std::string problem = raster_page_problem(page, max_page_bytes); !problem.empty())
            return where + problem;
        if (!skip_lines(in, page, form))
            return where + "the document ends within the page";
    }
    return pages ? "" : "the document has no pages";
}

} // namespace

std::string raster_page_problem(const RasterPage &p, uint64_t max_page_bytes) {
    std::optional<PixelKind> kind = pixel_kind(p.colour_space, p.bits_per_color, p.bits_per_pixel);
    if (!kind)
        return "a raster of colour space " + std::to_string(p.colour_space) + " at " +
               std::to_string(p.bits_per_pixel) + " bits per pixel cannot be printed";
    if (p.colour_order != CUPS_ORDER_CHUNKED)
        return "only pixels with their colours together are printed";
    if (p.colours != 0 && p.colours != p.bits_per_pixel / p.bits_per_color)
        return "the page's colour count does not match its pixels";
    if (p.bytes_per_line != (uint64_t(p.width) * p.bits_per_pixel + 7) / 8)
        return "the page's lines do not match its width";
    RasterFormat format{p.width, p.height, p.bytes_per_line, p.x_dpi, p.y_dpi, *kind};
    BmpLayout layout;
    PageRefusal refusal = plan_page(format, max_page_bytes, layout);
    return refusal == PageRefusal::NONE ? "" : page_refusal_text(refusal);
}

RasterCount count_raster_pages(std::span<const unsigned char> data, uint64_t max_pages,
                               uint64_t max_page_bytes) {
    Reader in{data};
    const unsigned char *sync = in.take(4);
    const Form *form = nullptr;
    for (const Form &f : FORMS)
        if (sync && memcmp(sync, f.sync, 4) == 0)
            form = &f;
    if (!form)
        return {0, "the document is neither PWG nor Apple raster"};
    uint64_t declared = 0;
    if (form->apple) {
        const unsigned char *file = in.take(APPLE_FILE_HEADER);
        declared = file ? word(file + 4, false) : 0;
    } else if (const unsigned char *h =
                   form->header > PWG_TOTAL_PAGES ? in.peek(form->header) : nullptr) {
        declared = word(h + PWG_TOTAL_PAGES, form->little_endian);
    }
    if (declared > 0)
        return {declared, page_total_problem(declared, max_pages)};
    RasterCount count;
    count.refusal = pages_found(in, *form, max_pages, max_page_bytes, count.pages);
    return count;
}
