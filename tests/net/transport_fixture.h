// A connected program side (ConnectToServer) and test side in one process.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "net/connection.h"
#include "net/send_queue.h"
#include "net/timing.h"
#include "base/job_state.h"
#include "support/loopback.h"
#include "support/queued_packet.h"

using Clock = std::chrono::steady_clock;

inline long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class Connected : public ::testing::Test {
  protected:
    LoopbackServer server;

    void SetUp() override {
        reset_job_state();
        ASSERT_TRUE(init_send_queue());
        server = open_loopback_server();
        ASSERT_EQ(1, ConnectToServer(server.port));
        ASSERT_TRUE(accept_peer(server));
    }

    void TearDown() override {
        if (send_thread)
            stop_send_thread();
        free_send_queue();
        if (connected)
            close_server_socket();
        close_loopback_server(server);
        receive_timeout_ms = 30000;
        send_wait_ms = 30000;
        heartbeat_period_ms = 30000;
        send_drain_grace_ms = 2000;
    }
};
