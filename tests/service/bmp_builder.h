// BMP files built byte by byte for the page tests, independently of the
// program's reader. Pure: also used by the native tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

struct BmpLayout {
    int32_t width = 4, height = 2; // negative height: top-down
    uint16_t bits = 24;
    uint32_t compression = 0, info_size = 40, size_image = 0, clr_used = 0, clr_important = 0;
    std::vector<uint32_t> table; // after the information header: colours or masks
    int64_t bits_offset = -1;    // -1: right after the headers and table
    int64_t pixel_bytes = -1;    // -1: exactly what the dimensions need
};

// Little-endian, and only where the file has room.
inline void put32(std::vector<unsigned char> &out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4 && at + i < out.size(); ++i)
        out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

inline std::vector<unsigned char> build_bmp(const BmpLayout &s) {
    uint64_t stride = (uint64_t(uint32_t(s.width)) * s.bits + 31) / 32 * 4;
    uint64_t rows = s.height < 0 ? 0 - int64_t(s.height) : s.height;
    size_t table_end = 14 + s.info_size + 4 * s.table.size();
    size_t offset = s.bits_offset < 0 ? table_end : size_t(s.bits_offset);
    size_t pixels = s.pixel_bytes >= 0 ? size_t(s.pixel_bytes) : s.width > 0 ? stride * rows : 16;
    // Room for the 40-byte header's fields even when biSize says less.
    size_t size = std::max<size_t>(std::max(offset + pixels, table_end), 54);
    std::vector<unsigned char> out(size, 0x5A);
    memset(out.data(), 0, std::min(offset, size));
    out[0] = 'B';
    out[1] = 'M';
    // From bfSize on: the file header, then the information header's 40 bytes.
    // clang-format off
    const uint32_t fields[] = {uint32_t(size), 0, uint32_t(offset), s.info_size, uint32_t(s.width),
                               uint32_t(s.height), 1u | s.bits << 16, s.compression, s.size_image,
                               2835, 2835, s.clr_used, s.clr_important};
    // clang-format on
    for (size_t i = 0; i < std::size(fields); ++i)
        put32(out, 2 + 4 * i, fields[i]);
    for (size_t i = 0; i < s.table.size(); ++i)
        put32(out, 14 + s.info_size + 4 * i, s.table[i]);
    return out;
}
