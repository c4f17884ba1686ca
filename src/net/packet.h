// Pure: builds natively, no windows.h.
// The packet frame shared by both directions: a 16-byte big-endian header,
// the body, and a 4-byte trailer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/protocol_codes.h"

constexpr uint32_t PACKET_MAGIC = 0xAABB1122;
constexpr uint16_t PROTOCOL_VERSION = 2;
constexpr uint32_t PACKET_TRAILER = 0xCCDD3344;
constexpr size_t PACKET_HEADER_SIZE = 16;
constexpr size_t PACKET_TRAILER_SIZE = 4;
constexpr size_t PACKET_OVERHEAD = PACKET_HEADER_SIZE + PACKET_TRAILER_SIZE;

// No real body comes near this; a larger length is refused before anything
// is allocated, so a peer cannot make the program reserve what it merely
// claims.
constexpr uint32_t MAX_BODY_LENGTH = 16u << 20;

// The header in host order.
struct PacketHeader {
    uint32_t magic;
    uint16_t version;
    uint16_t action;
    uint32_t req_id;
    uint32_t length;
};

PacketHeader decode_packet_header(const unsigned char *wire);

// 0 when magic and version are right, else the reception status.
uint32_t check_packet_header(const PacketHeader &header);

// 0 when the length can be received, else the reception status.
uint32_t check_body_length(uint32_t length);

// Writes header, body and trailer into `out`, which holds body_length + 20
// bytes. A null body with a non-zero length leaves those bytes untouched.
void frame_packet(unsigned char *out, uint16_t code, uint32_t req_id, const void *body,
                  uint32_t body_length);

// Reply body: status, text length, text (no terminator). `out` holds
// 8 + text_length bytes.
void build_reply_body(unsigned char *out, uint32_t status, const char *text, uint32_t text_length);

// Answer code for a request: 0x1000 + action, modulo 0x10000.
inline uint16_t reply_code(uint16_t action) {
    return uint16_t(REPLY_BASE + action);
}
