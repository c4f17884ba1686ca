// BMP files built byte by byte for the page tests, independently of the
// program's reader. Pure: also used by the native tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

struct BmpLayout {
    int32_t width = 4;
    int32_t height = 2; // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t info_size = 40;
    uint32_t size_image = 0;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
    std::vector<uint32_t> table; // after the information header: colours or masks
    int64_t bits_offset = -1;    // -1: right after the headers and table
    int64_t pixel_bytes = -1;    // -1: exactly what the dimensions need
    unsigned char pixel_value = 0x5A;
};

inline void put16(std::vector<unsigned char> &out, size_t at, uint32_t v) {
    if (at + 2 > out.size())
        return;
    out[at] = static_cast<unsigned char>(v);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
}

inline void put32(std::vector<unsigned char> &out, size_t at, uint32_t v) {
    if (at + 4 > out.size())
        return;
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// What the dimensions need; some bytes for a width that needs none.
inline uint64_t bmp_image_size(const BmpLayout &layout) {
    if (layout.width <= 0)
        return 16;
    uint64_t stride = (uint64_t(uint32_t(layout.width)) * layout.bits + 31) / 32 * 4;
    uint64_t rows = layout.height < 0 ? 0 - int64_t(layout.height) : layout.height;
    return stride * rows;
}

inline std::vector<unsigned char> build_bmp(const BmpLayout &layout) {
    size_t headers = 14 + layout.info_size;
    size_t table_end = headers + 4 * layout.table.size();
    size_t offset = layout.bits_offset < 0 ? table_end : size_t(layout.bits_offset);
    size_t pixels =
        layout.pixel_bytes < 0 ? size_t(bmp_image_size(layout)) : size_t(layout.pixel_bytes);
    size_t size = offset + pixels > table_end ? offset + pixels : table_end;
    if (size < 54) // room for the 40-byte header's fields even when biSize says less
        size = 54;
    std::vector<unsigned char> out(size, 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, uint32_t(size));
    put32(out, 10, uint32_t(offset));
    put32(out, 14, layout.info_size);
    put32(out, 18, uint32_t(layout.width));
    put32(out, 22, uint32_t(layout.height));
    put16(out, 26, 1);
    put16(out, 28, layout.bits);
    put32(out, 30, layout.compression);
    put32(out, 34, layout.size_image);
    put32(out, 38, 2835);
    put32(out, 42, 2835);
    put32(out, 46, layout.clr_used);
    put32(out, 50, layout.clr_important);
    for (size_t i = 0; i < layout.table.size(); ++i)
        put32(out, headers + 4 * i, layout.table[i]);
    if (offset < size)
        memset(out.data() + offset, layout.pixel_value, size - offset);
    return out;
}
