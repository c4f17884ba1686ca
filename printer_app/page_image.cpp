#include "page_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t FILE_HEADER_SIZE = 14, INFO_HEADER_SIZE = 40;

void put16(std::vector<unsigned char> &out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<unsigned char> &out, uint32_t v) {
    put16(out, uint16_t(v));
    put16(out, uint16_t(v >> 16));
}

uint16_t file_bits(PixelKind kind) {
    switch (kind) {
    case PixelKind::RGB_8:
        return 24;
    case PixelKind::GRAY_8:
    case PixelKind::INK_8:
        return 8;
    default:
        return 1;
    }
}

// Bytes a raster line needs for `width` pixels of this kind.
uint64_t line_bytes(PixelKind kind, uint32_t width) {
    return (uint64_t(width) * file_bits(kind) + 7) / 8;
}

// A resolution from the network in the header's pixels per metre: a signed
// 32-bit field, which an absurd resolution must not overflow.
uint32_t pixels_per_metre(uint32_t dpi) {
    return uint32_t(std::min<uint64_t>((uint64_t(dpi) * 10000 + 127) / 254, INT32_MAX));
}

// Grey level of palette entry i.
uint8_t palette_level(PixelKind kind, uint32_t i) {
    switch (kind) {
    case PixelKind::GRAY_8:
        return uint8_t(i);
    case PixelKind::INK_8:
        return uint8_t(255 - i);
    case PixelKind::BLACK_1:
        return i ? 0 : 255;
    default: // WHITE_1
        return i ? 255 : 0;
    }
}

} // namespace

std::optional<PixelKind> pixel_kind(unsigned colour_space, unsigned bits_per_color,
                                    unsigned bits_per_pixel) {
    bool rgb = colour_space == CUPS_CSPACE_SRGB || colour_space == CUPS_CSPACE_RGB;
    bool white = colour_space == CUPS_CSPACE_SW || colour_space == CUPS_CSPACE_W;
    bool black = colour_space == CUPS_CSPACE_K;
    if (rgb && bits_per_color == 8 && bits_per_pixel == 24)
        return PixelKind::RGB_8;
    if (bits_per_color == 8 && bits_per_pixel == 8 && (white || black))
        return white ? PixelKind::GRAY_8 : PixelKind::INK_8;
    if (bits_per_color == 1 && bits_per_pixel == 1 && (white || black))
        return white ? PixelKind::WHITE_1 : PixelKind::BLACK_1;
    return std::nullopt;
}

PageRefusal plan_page(const RasterFormat &format, uint64_t max_bytes, BmpLayout &layout) {
    if (format.width == 0 || format.height == 0)
        return PageRefusal::EMPTY;
    if (format.width > MAX_PAGE_SIDE || format.height > MAX_PAGE_SIDE)
        return PageRefusal::TOO_WIDE;
    if (format.bytes_per_line < line_bytes(format.kind, format.width))
        return PageRefusal::SHORT_LINE;
    BmpLayout plan;
    plan.bits = file_bits(format.kind);
    plan.palette_size = plan.bits == 24 ? 0 : 1u << plan.bits;
    plan.pixel_offset = FILE_HEADER_SIZE + INFO_HEADER_SIZE + 4 * plan.palette_size;
    plan.stride = uint32_t((line_bytes(format.kind, format.width) + 3) / 4 * 4);
    plan.file_size = plan.pixel_offset + uint64_t(plan.stride) * format.height;
    // Sides of at most 65535 keep this below 13 GiB: no overflow above. The
    // file's own size field is 32 bits.
    if (plan.file_size > max_bytes || plan.file_size > UINT32_MAX)
        return PageRefusal::TOO_LARGE;
    layout = plan;
    return PageRefusal::NONE;
}

const char *page_refusal_text(PageRefusal refusal) {
    switch (refusal) {
    case PageRefusal::NONE:
        return "fine";
    case PageRefusal::EMPTY:
        return "the page has no pixels";
    case PageRefusal::TOO_WIDE:
        return "a side of the page is more than 65535 pixels";
    case PageRefusal::TOO_LARGE:
        return "the page image would be larger than the page limit";
    case PageRefusal::SHORT_LINE:
        return "a raster line is shorter than its pixels";
    }
    return "unknown";
}

std::vector<unsigned char> bmp_headers(const RasterFormat &format, const BmpLayout &layout) {
    std::vector<unsigned char> out;
    out.reserve(layout.pixel_offset);
    put16(out, 0x4D42); // "BM"
    put32(out, uint32_t(layout.file_size));
    put32(out, 0);
    put32(out, layout.pixel_offset);
    put32(out, INFO_HEADER_SIZE);
    put32(out, format.width);
    put32(out, format.height); // positive: bottom-up
    put16(out, 1);
    put16(out, layout.bits);
    put32(out, 0); // BI_RGB
    put32(out, uint32_t(layout.file_size - layout.pixel_offset));
    put32(out, pixels_per_metre(format.x_dpi));
    put32(out, pixels_per_metre(format.y_dpi));
    put32(out, layout.palette_size);
    put32(out, 0);
    for (uint32_t i = 0; i < layout.palette_size; ++i) {
        uint8_t level = palette_level(format.kind, i);
        put32(out, uint32_t(level) * 0x010101u);
    }
    return out;
}

uint64_t row_offset(const BmpLayout &layout, uint32_t height, uint32_t y) {
    return layout.pixel_offset + uint64_t(layout.stride) * (height - 1 - y);
}

void convert_line(const RasterFormat &format, const BmpLayout &layout, const unsigned char *line,
                  unsigned char *row) {
    size_t used = size_t(line_bytes(format.kind, format.width));
    if (format.kind == PixelKind::RGB_8) {
        for (uint32_t x = 0; x < format.width; ++x) { // BMP keeps blue first
            row[3 * x] = line[3 * x + 2];
            row[3 * x + 1] = line[3 * x + 1];
            row[3 * x + 2] = line[3 * x];
        }
    } else {
        memcpy(row, line, used); // the palette says what the values mean
    }
    memset(row + used, 0, layout.stride - used);
}

bool page_file_create(PageFile &page, const std::string &folder, unsigned number,
                      const RasterFormat &format, uint64_t max_bytes, std::string &error) {
    PageRefusal refusal = plan_page(format, max_bytes, page.layout);
    if (refusal != PageRefusal::NONE) {
        error = page_refusal_text(refusal);
        return false;
    }
    page.format = format;
    page.path = folder + "/page-" + std::to_string(number) + ".bmp";
    page.fd = open(page.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (page.fd < 0) {
        error = page.path + ": " + strerror(errno);
        return false;
    }
    std::vector<unsigned char> headers = bmp_headers(format, page.layout);
    // posix_fallocate: a full tmpfs shows now, not as a signal when a row is written.
    if (posix_fallocate(page.fd, 0, off_t(page.layout.file_size)) != 0 ||
        pwrite(page.fd, headers.data(), headers.size(), 0) != ssize_t(headers.size())) {
        error = "no room for a page of " + std::to_string(page.layout.file_size >> 20) +
                " MiB in " + folder;
        page_file_discard(page);
        return false;
    }
    page.row.assign(page.layout.stride, 0);
    return true;
}

bool page_file_write_line(PageFile &page, uint32_t y, const unsigned char *line, size_t size) {
    if (page.fd < 0 || y >= page.format.height ||
        size < line_bytes(page.format.kind, page.format.width))
        return false;
    convert_line(page.format, page.layout, line, page.row.data());
    off_t at = off_t(row_offset(page.layout, page.format.height, y));
    return pwrite(page.fd, page.row.data(), page.row.size(), at) == ssize_t(page.row.size());
}

bool page_file_finish(PageFile &page) {
    bool closed = page.fd >= 0 && close(page.fd) == 0;
    page.fd = -1;
    return closed;
}

void page_file_discard(PageFile &page) {
    if (page.fd >= 0)
        close(page.fd);
    page.fd = -1;
    if (!page.path.empty())
        unlink(page.path.c_str());
    page.path.clear();
}

std::string make_page_folder(const char *tag) {
    const char *tmp = getenv("TMPDIR");
    std::string base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : tmp ? tmp : "/tmp";
    std::string pattern = base + "/" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}
