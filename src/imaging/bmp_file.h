// Pure: builds natively, no windows.h.
// Page files: the checks a BMP page passes before it goes to the printer, and
// the header that drawing hands to the platform, built from the file.
// Every read is bounded by the size of the file as it was read.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t BMP_SIGNATURE = 0x4D42; // "BM"
constexpr size_t BMP_FILE_HEADER_SIZE = 14;
constexpr size_t BMP_INFO_HEADER_SIZE = 40;
constexpr uint32_t BMP_MAX_COLOURS = 256;

enum : uint32_t { BMP_RGB = 0, BMP_BITFIELDS = 3 };

// The platform's BITMAPINFOHEADER, field for field.
struct DibHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(DibHeader) == BMP_INFO_HEADER_SIZE);

// The platform's BITMAPINFO with room for the largest colour table; the three
// masks of a BI_BITFIELDS image take its first three entries.
struct DibInfo {
    DibHeader header;
    uint32_t colours[BMP_MAX_COLOURS];
};

// Why a file that begins with "BM" cannot be drawn.
enum class BmpProblem {
    NONE,
    HEADERS_BEYOND_END,  // shorter than its file and information headers
    UNSUPPORTED_HEADER,  // an information header shorter than 40 bytes
    BAD_DIMENSIONS,      // width not positive, height 0 or not negatable
    UNSUPPORTED_FORMAT,  // bit count or compression that cannot be bounded
    IMAGE_TOO_LARGE,     // a scan line or image larger than the platform counts
    MASKS_BEYOND_PIXELS, // BI_BITFIELDS masks missing before the pixel data
    PIXELS_BEYOND_END,   // pixel data overlapping the headers or past the end
};

// A page ready to draw: the header to pass with the pixels, which start at
// bits_offset in the file, and the bitmap's size in pixels.
struct BmpPage {
    DibInfo info;
    uint32_t bits_offset;
    int32_t width;
    int32_t height; // as stored: negative for a top-down bitmap
    uint32_t rows;  // |height|
};

// The file's first two bytes, little-endian; a single byte reads as itself.
uint16_t bmp_signature(const unsigned char *file, size_t size);

// Checks a file known to begin with "BM" and builds its drawing header:
// the 40-byte header with biSize 40 and biSizeImage the size of the pixel
// data, the file's own colour table (missing entries black) for 8 bits per
// pixel or fewer, the masks for BI_BITFIELDS. `page` is written only when
// the result is NONE.
BmpProblem check_bmp_page(const unsigned char *file, size_t size, BmpPage *page);

// Words for the err line of a refused page.
const char *bmp_problem_text(BmpProblem problem);
