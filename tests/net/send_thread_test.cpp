#include <chrono>
#include <thread>

#include "net/transport_fixture.h"

namespace {

std::vector<unsigned char> sequence_body(uint32_t n) {
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

} // namespace

using SendThread = Connected;

TEST_F(SendThread, TwoProducersPacketsLeaveWholeAndInOrder) {
    ASSERT_TRUE(start_send_thread());
    constexpr uint32_t PER_PRODUCER = 300;
    auto produce = [](uint16_t code) {
        for (uint32_t i = 0; i < PER_PRODUCER; i++) {
            auto body = sequence_body(i);
            send_packet(code, i, body.data(), 4);
        }
    };
    std::thread other(produce, uint16_t(0x2002));
    produce(0x1003);
    other.join();
    uint32_t next[2] = {0, 0};
    for (uint32_t i = 0; i < 2 * PER_PRODUCER; i++) {
        auto packet = read_packet(server.peer, 5000);
        ASSERT_EQ(24u, packet.size()) << "packet " << i;
        int producer = be32_at(packet, 4) == 0x00022002 ? 1 : 0;
        EXPECT_EQ(next[producer], be32_at(packet, 16)) << "producer " << producer;
        next[producer] = be32_at(packet, 16) + 1;
    }
}

TEST_F(SendThread, StopSendsWhatIsAlreadyQueued) {
    ASSERT_TRUE(start_send_thread());
    for (uint32_t i = 0; i < 50; i++) {
        auto body = sequence_body(i);
        send_packet(0x2004, 0, body.data(), 4);
    }
    stop_send_thread();
    for (uint32_t i = 0; i < 50; i++) {
        auto packet = read_packet(server.peer, 2000);
        ASSERT_EQ(24u, packet.size()) << "packet " << i << " was dropped";
        EXPECT_EQ(i, be32_at(packet, 16));
    }
}

TEST_F(SendThread, StopIsBoundedWhenTheServerDoesNotRead) {
    send_drain_grace_ms = 300;
    ASSERT_TRUE(start_send_thread());
    std::vector<unsigned char> big(4 << 20);
    for (int i = 0; i < 16; i++)
        send_packet(0x1002, i, big.data(), static_cast<uint32_t>(big.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto started = Clock::now();
    stop_send_thread();
    EXPECT_LT(elapsed_ms(started), 3000) << "a blocked send must not hold the stop";
    EXPECT_EQ(nullptr, send_thread);
}

TEST_F(SendThread, IdleThreadWakesOnlyToLookAtItsFlag) {
    send_wait_ms = 50;
    ASSERT_TRUE(start_send_thread());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto body = sequence_body(7);
    send_packet(0x2002, 0, body.data(), 4);
    EXPECT_EQ(24u, read_packet(server.peer, 2000).size());
    auto started = Clock::now();
    stop_send_thread();
    EXPECT_LT(elapsed_ms(started), 1000);
}
