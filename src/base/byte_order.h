// Pure: builds natively, no windows.h.
// Big-endian reads and writes at byte positions, and network-order
// conversion of whole words.
#pragma once

#include <cstdint>

inline uint32_t read_be32(const unsigned char *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t read_be16(const unsigned char *p) {
    return uint16_t((p[0] << 8) | p[1]);
}

inline void write_be32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void write_be16(unsigned char *p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void write_le32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A word as it lay in memory in network order, converted to host order.
inline uint32_t be32_to_host(uint32_t stored) {
    return read_be32(reinterpret_cast<const unsigned char *>(&stored));
}
