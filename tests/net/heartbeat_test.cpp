#include <atomic>
#include <chrono>
#include <thread>

#include "net/heartbeat.h"
#include "net/transport_fixture.h"

namespace {

const std::vector<unsigned char> HEARTBEAT_JOB_7 = {0xAA, 0xBB, 0x11, 0x22, 0x00, 0x02, 0x20, 0x02,
                                                    0,    0,    0,    0,    0,    0,    0,    4,
                                                    0x00, 0x00, 0x00, 0x07, 0xCC, 0xDD, 0x33, 0x44};

void accept_job(uint32_t job_id) {
    job_state = JOB_STATE_ACCEPTED;
    current_job_id = job_id;
    set_heartbeat_timer();
}

} // namespace

class Heartbeat : public Connected {
  protected:
    void SetUp() override {
        Connected::SetUp();
        ASSERT_TRUE(start_send_thread());
    }
    void TearDown() override {
        stop_heartbeat_timer();
        Connected::TearDown();
    }
};

TEST_F(Heartbeat, CarriesTheJobIdEveryPeriod) {
    heartbeat_period_ms = 100;
    accept_job(7);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(HEARTBEAT_JOB_7, read_packet(server.peer, 2000)) << "heartbeat " << i;
}

TEST_F(Heartbeat, StopSendsOneLastHeartbeatAtOnce) {
    accept_job(7);
    auto started = Clock::now();
    stop_heartbeat_timer();
    EXPECT_LT(elapsed_ms(started), 1000) << "the stop must not wait out the period";
    EXPECT_EQ(nullptr, heartbeat_thread);
    EXPECT_EQ(nullptr, heartbeat_event);
    EXPECT_EQ(JOB_STATE_IDLE, job_state.load());
    EXPECT_EQ(HEARTBEAT_JOB_7, read_packet(server.peer, 2000));
    EXPECT_TRUE(read_packet(server.peer, 300).empty()) << "exactly one last heartbeat";
    stop_heartbeat_timer(); // a second stop finds nothing to stop
}

TEST_F(Heartbeat, ANewJobEndsTheTimerOfTheLastOne) {
    accept_job(1);
    HANDLE old_thread;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), heartbeat_thread, GetCurrentProcess(),
                                &old_thread, SYNCHRONIZE, FALSE, 0));
    job_state = JOB_STATE_IDLE; // ended without a stop, as the last page does
    auto started = Clock::now();
    accept_job(2);
    EXPECT_LT(elapsed_ms(started), 1000);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(old_thread, 0)) << "two heartbeat threads";
    CloseHandle(old_thread);
}

TEST_F(Heartbeat, StopDoesNotDependOnWinningTheSharedEvent) {
    accept_job(7);
    // Someone else holding the same global name swallows wake-ups.
    HANDLE foreign = CreateEventW(nullptr, FALSE, FALSE, HEARTBEAT_EVENT_NAME);
    ASSERT_NE(nullptr, foreign);
    std::atomic<bool> done{false};
    std::thread thief([&] {
        while (!done)
            WaitForSingleObject(foreign, 10);
    });
    auto started = Clock::now();
    stop_heartbeat_timer();
    EXPECT_LT(elapsed_ms(started), 3000);
    done = true;
    thief.join();
    CloseHandle(foreign);
}
