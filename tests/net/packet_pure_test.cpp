#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/packet.h"

namespace {

std::vector<unsigned char> framed(uint16_t code, uint32_t req_id, const void *body, uint32_t n) {
    std::vector<unsigned char> out(n + PACKET_OVERHEAD);
    frame_packet(out.data(), code, req_id, body, n);
    return out;
}

std::vector<unsigned char> reply(uint16_t code, uint32_t req_id, uint32_t status,
                                 const char *text) {
    uint32_t n = static_cast<uint32_t>(strlen(text));
    std::vector<unsigned char> body(8 + n);
    build_reply_body(body.data(), status, text, n);
    return framed(code, req_id, body.data(), 8 + n);
}

} // namespace

TEST(PacketFrame, OkReplyIsThirtyBytesByteExact) {
    std::vector<unsigned char> expected = {
        0xAA, 0xBB, 0x11, 0x22, 0x00, 0x02, 0x10, 0x03, 0x00, 0x00, 0x00, 0x4D, 0x00, 0x00, 0x00,
        0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 'O',  'K',  0xCC, 0xDD, 0x33, 0x44};
    EXPECT_EQ(expected, reply(0x1003, 77, 0, "OK"));
}

TEST(PacketFrame, NotImplementedReplyIsFiftyBytes) {
    auto packet = reply(0x1009, 1, 21, "Action not implemented");
    ASSERT_EQ(50u, packet.size());
    EXPECT_EQ(30u, (packet[12] << 24) | (packet[13] << 16) | (packet[14] << 8) | packet[15]);
    EXPECT_EQ(21u, packet[19]);
}

TEST(PacketFrame, EmptyBodyHasOnlyHeaderAndTrailer) {
    auto packet = framed(0x2004, 0, nullptr, 0);
    ASSERT_EQ(20u, packet.size());
    EXPECT_EQ(0xCC, packet[16]);
    EXPECT_EQ(0x44, packet[19]);
}

TEST(PacketHeaderDecode, RoundTripsAndChecksInOrder) {
    unsigned char body[3] = {1, 2, 3};
    auto packet = framed(0xF005, 0x01020304, body, 3);
    PacketHeader header = decode_packet_header(packet.data());
    EXPECT_EQ(PACKET_MAGIC, header.magic);
    EXPECT_EQ(2, header.version);
    EXPECT_EQ(0xF005, header.action);
    EXPECT_EQ(0x01020304u, header.req_id);
    EXPECT_EQ(3u, header.length);
    EXPECT_EQ(0u, check_packet_header(header));

    header.version = 1;
    EXPECT_EQ(4u, check_packet_header(header)) << "right magic, wrong version";
    header.magic = 0xAABB1123;
    EXPECT_EQ(2u, check_packet_header(header)) << "magic is checked before version";
}

TEST(PacketHeaderDecode, LengthsBeyondAnyRealBodyAreRefused) {
    EXPECT_EQ(0u, check_body_length(0));
    EXPECT_EQ(0u, check_body_length(MAX_BODY_LENGTH));
    EXPECT_EQ(11u, check_body_length(MAX_BODY_LENGTH + 1));
    EXPECT_EQ(11u, check_body_length(0xFFFFFFFC)) << "body plus trailer overflows 32 bits";
    EXPECT_EQ(11u, check_body_length(0xFFFFFFFF));
}

TEST(ReplyCode, WrapsModulo0x10000) {
    EXPECT_EQ(0x1000, reply_code(0));
    EXPECT_EQ(0x1008, reply_code(8));
    EXPECT_EQ(0x0005, reply_code(0xF005));
    EXPECT_EQ(0x2001, reply_code(0x1001));
}
