// The packet frame: pure logic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/packet.h"

namespace {

std::vector<unsigned char> reply(uint16_t code, uint32_t req_id, uint32_t status,
                                 const char *text) {
    uint32_t n = static_cast<uint32_t>(strlen(text));
    std::vector<unsigned char> body(8 + n), out(8 + n + PACKET_OVERHEAD);
    build_reply_body(body.data(), status, text, n);
    frame_packet(out.data(), code, req_id, body.data(), 8 + n);
    return out;
}

} // namespace

TEST(Packet, ReplyIsFramedByteExactAndDecodesBack) {
    std::vector<unsigned char> expected = {
        0xAA, 0xBB, 0x11, 0x22, 0x00, 0x02, 0x10, 0x03, 0x00, 0x00, 0x00, 0x4D, 0x00, 0x00, 0x00,
        0x0A, 0x00, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x02, 'O',  'K',  0xCC, 0xDD, 0x33, 0x44};
    std::vector<unsigned char> framed = reply(0x1003, 77, 21, "OK");
    EXPECT_EQ(expected, framed);
    PacketHeader header = decode_packet_header(framed.data());
    EXPECT_EQ(PACKET_MAGIC, header.magic);
    EXPECT_EQ(2, header.version);
    EXPECT_EQ(0x1003, header.action);
    EXPECT_EQ(77u, header.req_id);
    EXPECT_EQ(10u, header.length);
    EXPECT_EQ(0u, check_packet_header(header));
    header.version = 1;
    EXPECT_EQ(4u, check_packet_header(header));
    header.magic = 0xAABB1123;
    EXPECT_EQ(2u, check_packet_header(header)) << "magic is checked before version";
}

TEST(Packet, LengthsAndReplyCodes) {
    EXPECT_EQ(0u, check_body_length(MAX_BODY_LENGTH));
    EXPECT_EQ(11u, check_body_length(MAX_BODY_LENGTH + 1));
    EXPECT_EQ(11u, check_body_length(0xFFFFFFFC)) << "body plus trailer overflows 32 bits";
    EXPECT_EQ(0x0005, reply_code(0xF005));
    EXPECT_EQ(0x2001, reply_code(0x1001));
}
