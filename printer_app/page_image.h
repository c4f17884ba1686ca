// A page of the job's raster as the BMP file that the Windows program
// prints: lines arrive top first, one at a time, and go straight to their
// place in a bottom-up BMP file (under /dev/shm where there is one), so that
// no second copy of the page is held. Sizes come from the network and are
// bounded before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The pixel layouts a raster line may have, and what a value means.
enum class PixelKind {
    RGB_8,   // red, green, blue; 24-bit BMP
    GRAY_8,  // 0 black .. 255 white; 8-bit BMP, grey palette
    INK_8,   // 0 white .. 255 black; 8-bit BMP, inverted grey palette
    BLACK_1, // 1 black; 1-bit BMP
    WHITE_1, // 1 white; 1-bit BMP
};

// The raster header's colour space (cups_cspace_t) and bit depths, as a
// kind; none for a layout that is not printed.
std::optional<PixelKind> pixel_kind(unsigned colour_space, unsigned bits_per_color,
                                    unsigned bits_per_pixel);

struct RasterFormat {
    uint32_t width = 0, height = 0; // pixels
    uint32_t bytes_per_line = 0;    // what each line holds
    uint32_t x_dpi = 0, y_dpi = 0;
    PixelKind kind = PixelKind::RGB_8;
};

// Where a page's parts go in its BMP file.
struct BmpLayout {
    uint16_t bits = 0;         // per pixel in the file
    uint32_t palette_size = 0; // colour entries
    uint32_t pixel_offset = 0; // of the first stored (bottom) row
    uint32_t stride = 0;       // bytes per stored row, a multiple of 4
    uint64_t file_size = 0;
};

enum class PageRefusal {
    NONE,
    EMPTY,      // no pixels
    TOO_WIDE,   // a side beyond what the program accepts
    TOO_LARGE,  // more bytes than the page limit
    SHORT_LINE, // a line holds fewer bytes than its pixels need
};

// The Windows program refuses a page with a side beyond this.
constexpr uint32_t MAX_PAGE_SIDE = 65535;

// Checks a page's format against the limit (bytes of its file) and lays it out.
PageRefusal plan_page(const RasterFormat &format, uint64_t max_bytes, BmpLayout &layout);
const char *page_refusal_text(PageRefusal refusal);

// The file and information headers and the palette: the first
// layout.pixel_offset bytes of the file.
std::vector<unsigned char> bmp_headers(const RasterFormat &format, const BmpLayout &layout);

// File offset of raster line y (0 the top): rows are stored bottom-up.
uint64_t row_offset(const BmpLayout &layout, uint32_t height, uint32_t y);

// One raster line (at least the bytes its pixels need) into one stored row
// of layout.stride bytes, padding zeroed.
void convert_line(const RasterFormat &format, const BmpLayout &layout, const unsigned char *line,
                  unsigned char *row);

// One page file being written.
struct PageFile {
    int fd = -1;
    std::string path;
    RasterFormat format;
    BmpLayout layout;
    std::vector<unsigned char> row; // one stored row, reused for every line
};

// Creates `folder`/page-NUMBER.bmp at its full size; false and `error` when
// it cannot be made. The file is removed again by page_file_discard.
bool page_file_create(PageFile &page, const std::string &folder, unsigned number,
                      const RasterFormat &format, uint64_t max_bytes, std::string &error);
// Writes raster line y; `size` bytes are available at `line`.
bool page_file_write_line(PageFile &page, uint32_t y, const unsigned char *line, size_t size);
// Closes the file, which stays for the program to read.
bool page_file_finish(PageFile &page);
// Closes and removes the file.
void page_file_discard(PageFile &page);

// A new private folder for a job's pages: in memory where the system has a
// tmpfs (pages are written, read once and removed), else in the temporary
// folder. Empty when none can be made.
std::string make_page_folder(const char *tag);
