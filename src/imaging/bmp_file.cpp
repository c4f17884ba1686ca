// Pure: builds natively, no windows.h.
#include "imaging/bmp_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The platform counts the bytes of a scan line and of an image in a signed
// 32-bit int.
constexpr uint64_t PLATFORM_COUNT_LIMIT = INT32_MAX;
// The three BI_BITFIELDS masks follow the 40 bytes of the information header
// whether the header is longer (and holds them) or not.
constexpr size_t MASKS_OFFSET = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE;
constexpr size_t MASKS_SIZE = 12;

uint16_t le16(const unsigned char *p) {
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t le32(const unsigned char *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The caller has checked that 40 bytes lie at p.
DibHeader read_info_header(const unsigned char *p) {
    DibHeader header;
    header.biSize = le32(p);
    header.biWidth = static_cast<int32_t>(le32(p + 4));
    header.biHeight = static_cast<int32_t>(le32(p + 8));
    header.biPlanes = le16(p + 12);
    header.biBitCount = le16(p + 14);
    header.biCompression = le32(p + 16);
    header.biSizeImage = le32(p + 20);
    header.biXPelsPerMeter = static_cast<int32_t>(le32(p + 24));
    header.biYPelsPerMeter = static_cast<int32_t>(le32(p + 28));
    header.biClrUsed = le32(p + 32);
    header.biClrImportant = le32(p + 36);
    return header;
}

// Uncompressed pixels only: their size follows from the dimensions, so the
// whole image can be checked against the file before the platform sees it.
bool format_supported(const DibHeader &header) {
    switch (header.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
        return header.biCompression == BMP_RGB;
    case 16:
    case 32:
        return header.biCompression == BMP_RGB || header.biCompression == BMP_BITFIELDS;
    default:
        return false;
    }
}

// What the platform looks up for a palette image: biClrUsed entries, or a
// full table when it is 0, never more than the bit count can address.
uint32_t palette_entries(const DibHeader &header) {
    uint32_t full = 1u << header.biBitCount;
    return header.biClrUsed != 0 && header.biClrUsed < full ? header.biClrUsed : full;
}

// Entries that lie in the file between the headers and the pixel data; the
// rest of the table stays zero (black).
void copy_colour_table(const unsigned char *file, uint64_t table_start, uint32_t bits_offset,
                       DibInfo *info) {
    DibHeader &header = info->header;
    uint32_t entries = palette_entries(header);
    uint64_t present = (bits_offset - table_start) / 4;
    uint32_t copied = static_cast<uint32_t>(std::min<uint64_t>(entries, present));
    for (uint32_t i = 0; i < copied; ++i)
        info->colours[i] = le32(file + table_start + 4 * i);
    header.biClrUsed = entries;
    if (header.biClrImportant > entries)
        header.biClrImportant = 0;
}

void copy_masks(const unsigned char *file, DibInfo *info) {
    for (size_t i = 0; i < 3; ++i)
        info->colours[i] = le32(file + MASKS_OFFSET + 4 * i);
}

} // namespace

uint16_t bmp_signature(const unsigned char *file, size_t size) {
    if (size == 0)
        return 0;
    return size == 1 ? file[0] : le16(file);
}

BmpProblem check_bmp_page(const unsigned char *file, size_t size, BmpPage *page) {
    if (size < BMP_FILE_HEADER_SIZE + 4)
        return BmpProblem::HEADERS_BEYOND_END;
    uint32_t info_size = le32(file + BMP_FILE_HEADER_SIZE);
    if (info_size < BMP_INFO_HEADER_SIZE)
        return BmpProblem::UNSUPPORTED_HEADER;
    uint64_t table_start = uint64_t(BMP_FILE_HEADER_SIZE) + info_size;
    if (table_start > size)
        return BmpProblem::HEADERS_BEYOND_END;

    DibHeader header = read_info_header(file + BMP_FILE_HEADER_SIZE);
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN)
        return BmpProblem::BAD_DIMENSIONS;
    if (!format_supported(header))
        return BmpProblem::UNSUPPORTED_FORMAT;

    uint64_t row_bits = uint64_t(header.biWidth) * header.biBitCount;
    if (row_bits + 31 > PLATFORM_COUNT_LIMIT)
        return BmpProblem::IMAGE_TOO_LARGE;
    uint64_t stride = (row_bits + 31) / 32 * 4;
    uint32_t rows =
        header.biHeight < 0 ? 0u - uint32_t(header.biHeight) : uint32_t(header.biHeight);
    uint64_t image_size = stride * rows;
    if (image_size > PLATFORM_COUNT_LIMIT)
        return BmpProblem::IMAGE_TOO_LARGE;

    uint32_t bits_offset = le32(file + 10);
    if (bits_offset < table_start || bits_offset > size || image_size > size - bits_offset)
        return BmpProblem::PIXELS_BEYOND_END;
    bool bitfields = header.biCompression == BMP_BITFIELDS;
    if (bitfields && MASKS_OFFSET + MASKS_SIZE > bits_offset)
        return BmpProblem::MASKS_BEYOND_PIXELS;

    memset(&page->info, 0, sizeof(page->info));
    page->info.header = header;
    page->info.header.biSize = BMP_INFO_HEADER_SIZE;
    page->info.header.biSizeImage = static_cast<uint32_t>(image_size);
    if (header.biBitCount <= 8) {
        copy_colour_table(file, table_start, bits_offset, &page->info);
    } else {
        page->info.header.biClrUsed = 0;
        page->info.header.biClrImportant = 0;
        if (bitfields)
            copy_masks(file, &page->info);
    }
    page->bits_offset = bits_offset;
    page->width = header.biWidth;
    page->height = header.biHeight;
    page->rows = rows;
    return BmpProblem::NONE;
}

const char *bmp_problem_text(BmpProblem problem) {
    switch (problem) {
    case BmpProblem::NONE:
        return "no problem";
    case BmpProblem::HEADERS_BEYOND_END:
        return "headers beyond the end of the file";
    case BmpProblem::UNSUPPORTED_HEADER:
        return "information header shorter than 40 bytes";
    case BmpProblem::BAD_DIMENSIONS:
        return "impossible width or height";
    case BmpProblem::UNSUPPORTED_FORMAT:
        return "unsupported bit count or compression";
    case BmpProblem::IMAGE_TOO_LARGE:
        return "scan line or image too large";
    case BmpProblem::MASKS_BEYOND_PIXELS:
        return "bit field masks missing before the pixel data";
    case BmpProblem::PIXELS_BEYOND_END:
        return "pixel data outside the file";
    }
    return "unknown problem";
}
