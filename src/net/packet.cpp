// Pure: builds natively, no windows.h.
#include "net/packet.h"

#include <cstring>

#include "base/byte_order.h"

PacketHeader decode_packet_header(const unsigned char *wire) {
    PacketHeader header;
    header.magic = read_be32(wire);
    header.version = read_be16(wire + 4);
    header.action = read_be16(wire + 6);
    header.req_id = read_be32(wire + 8);
    header.length = read_be32(wire + 12);
    return header;
}

uint32_t check_packet_header(const PacketHeader &header) {
    if (header.magic != PACKET_MAGIC)
        return STATUS_BAD_FRAME;
    if (header.version != PROTOCOL_VERSION)
        return STATUS_BAD_VERSION;
    return 0;
}

uint32_t check_body_length(uint32_t length) {
    if (length > MAX_BODY_LENGTH)
        return STATUS_OUT_OF_MEMORY;
    return 0;
}

void frame_packet(unsigned char *out, uint16_t code, uint32_t req_id, const void *body,
                  uint32_t body_length) {
    write_be32(out, PACKET_MAGIC);
    write_be16(out + 4, PROTOCOL_VERSION);
    write_be16(out + 6, code);
    write_be32(out + 8, req_id);
    write_be32(out + 12, body_length);
    if (body && body_length)
        memcpy(out + PACKET_HEADER_SIZE, body, body_length);
    write_be32(out + PACKET_HEADER_SIZE + body_length, PACKET_TRAILER);
}

void build_reply_body(unsigned char *out, uint32_t status, const char *text, uint32_t text_length) {
    write_be32(out, status);
    write_be32(out + 4, text_length);
    if (text_length)
        memcpy(out + 8, text, text_length);
}
