#include <malloc.h>

#include <chrono>
#include <thread>

#include "net/transport_fixture.h"

namespace {

// The queued 0x2004 report, reduced to its status; -1 when none is queued.
long reported_status(const QueuedPacket &packet) {
    return packet.code == 0x2004 && packet.body.size() == 8 ? long(packet.status) : -1;
}

} // namespace

using Receive = Connected;

TEST_F(Receive, BodyIsHandedOverAtItsExactSize) {
    ASSERT_TRUE(send_all(server.peer, test_frame(2, 9, {'/', 't', 'm', 'p', 0})));
    PacketHeader header;
    unsigned char *body = nullptr;
    ASSERT_EQ(1, ReceivePacket(&header, &body));
    EXPECT_EQ(2, header.action);
    EXPECT_EQ(9u, header.req_id);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(5u, _msize(body)) << "no byte past the body may be readable";
    EXPECT_EQ(0, memcmp(body, "/tmp", 5));
    free(body);
}

TEST_F(Receive, EmptyBodyGivesNullPointer) {
    ASSERT_TRUE(send_all(server.peer, test_frame(0x3002, 0, {})));
    PacketHeader header;
    unsigned char *body = reinterpret_cast<unsigned char *>(1);
    ASSERT_EQ(1, ReceivePacket(&header, &body));
    EXPECT_EQ(nullptr, body);
}

TEST_F(Receive, TricklingBytesNeverTimeOut) {
    receive_timeout_ms = 300;
    auto packet = test_frame(3, 1, {0, 0, 0, 1});
    std::thread writer([&] {
        for (unsigned char byte : packet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            send_all(server.peer, {byte});
        }
    });
    PacketHeader header;
    unsigned char *body = nullptr;
    EXPECT_EQ(1, ReceivePacket(&header, &body));
    writer.join();
    free(body);
}

TEST_F(Receive, SilenceIsStatus19) {
    receive_timeout_ms = 200;
    auto packet = test_frame(3, 1, {0, 0, 0, 1});
    for (size_t sent : {size_t(0), size_t(16)}) {
        send_all(server.peer, std::vector<unsigned char>(packet.begin(), packet.begin() + sent));
        PacketHeader header;
        unsigned char *body = nullptr;
        EXPECT_EQ(0, ReceivePacket(&header, &body)) << sent << " bytes sent";
        EXPECT_EQ(nullptr, body);
        EXPECT_EQ(19, reported_status(take_queued())) << sent << " bytes sent";
    }
}

TEST_F(Receive, ClosedConnectionIsStatus6) {
    auto packet = test_frame(3, 1, {0, 0, 0, 1});
    send_all(server.peer, std::vector<unsigned char>(packet.begin(), packet.begin() + 18));
    closesocket(server.peer);
    server.peer = INVALID_SOCKET;
    PacketHeader header;
    unsigned char *body = nullptr;
    EXPECT_EQ(0, ReceivePacket(&header, &body));
    EXPECT_EQ(6, reported_status(take_queued()));
}

TEST_F(Receive, ClaimedLengthIsNeverAllocated) {
    auto packet = test_frame(3, 1, {});
    packet[12] = 0x7F; // 2 GiB claimed, nothing behind it
    send_all(server.peer, std::vector<unsigned char>(packet.begin(), packet.begin() + 16));
    PacketHeader header;
    unsigned char *body = nullptr;
    EXPECT_EQ(0, ReceivePacket(&header, &body));
    EXPECT_EQ(11, reported_status(take_queued()));
}
