// Start-up's spooler step and socket library, with the service manager and
// WSAStartup faked: Wine's spooler always starts, so its failures need fakes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "support/debug_capture.h"

namespace {

struct Fake {
    DWORD state_after_starts; // SERVICE_RUNNING after this many start calls
    int starts_needed;
    bool query_fails;
    bool manager_fails;
    int wsa_result;
    int queries, starts, pauses, sessions, closed;
    int session_port;
} fake;

SC_HANDLE WINAPI fake_open_manager(LPCWSTR, LPCWSTR, DWORD) {
    return fake.manager_fails ? nullptr : reinterpret_cast<SC_HANDLE>(1);
}
SC_HANDLE WINAPI fake_open_service(SC_HANDLE, LPCWSTR, DWORD) {
    return reinterpret_cast<SC_HANDLE>(2);
}
BOOL WINAPI fake_query(SC_HANDLE, LPSERVICE_STATUS status) {
    fake.queries++;
    status->dwCurrentState = fake.starts >= fake.starts_needed ? SERVICE_RUNNING : SERVICE_STOPPED;
    return !fake.query_fails;
}
BOOL WINAPI fake_start(SC_HANDLE, DWORD, LPCWSTR *) {
    fake.starts++;
    return FALSE;
}
BOOL WINAPI fake_close(SC_HANDLE) {
    fake.closed++;
    return TRUE;
}
void WINAPI fake_sleep(DWORD) {
    fake.pauses++;
}
int WINAPI fake_wsa_startup(WORD, LPWSADATA) {
    return fake.wsa_result;
}
int fake_main_loop(int port) {
    fake.sessions++;
    fake.session_port = port;
    return 0;
}

class Startup : public ::testing::Test {
  protected:
    StartupCalls saved = startup_calls;
    void SetUp() override {
        fake = {};
        startup_calls = {fake_open_manager, fake_open_service, fake_query,       fake_start,
                         fake_close,        fake_sleep,        fake_wsa_startup, fake_main_loop};
        _putenv_s("NO_RPC", ""); // unset: the spooler step runs
    }
    void TearDown() override { startup_calls = saved; }
};

} // namespace

TEST_F(Startup, SpoolerStepAndSocketLibrary) {
    struct Row {
        const char *name;
        int starts_needed;
        bool query_fails, manager_fails, no_rpc;
        int wsa_result;
        int exit_code, starts, pauses, queries, closed, sessions;
    };
    const Row rows[] = {
        {"already running", 0, false, false, false, 0, EXIT_AFTER_SESSION, 0, 0, 1, 2, 1},
        {"started after three calls", 3, false, false, false, 0, EXIT_AFTER_SESSION, 3, 3, 4, 2, 1},
        {"status query fails", 0, true, false, false, 0, EXIT_NO_SPOOLER, 0, 0, 1, 2, 0},
        {"no service manager", 0, false, true, false, 0, EXIT_NO_SPOOLER, 0, 0, 0, 0, 0},
        {"NO_RPC skips the manager", 0, false, true, true, 0, EXIT_AFTER_SESSION, 0, 0, 0, 0, 1},
        {"socket library fails", 0, false, false, false, WSASYSNOTREADY, EXIT_NO_SOCKETS, 0, 0, 1,
         2, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fake = {};
        fake.starts_needed = row.starts_needed;
        fake.query_fails = row.query_fails;
        fake.manager_fails = row.manager_fails;
        fake.wsa_result = row.wsa_result;
        _putenv_s("NO_RPC", row.no_rpc ? "1" : "");
        EXPECT_EQ(row.exit_code, run_program(L"x 9000"));
        EXPECT_EQ(row.starts, fake.starts);
        EXPECT_EQ(row.pauses, fake.pauses);
        EXPECT_EQ(row.queries, fake.queries);
        EXPECT_EQ(row.closed, fake.closed) << "service and manager handles";
        EXPECT_EQ(row.sessions, fake.sessions);
        EXPECT_EQ(row.sessions ? 9000 : 0, fake.session_port);
    }
}

TEST_F(Startup, SpoolerNeverRunningGivesExit5After52StartCalls) {
    fake.starts_needed = 1000;
    std::string err;
    int code = 0;
    err = capture_debug_output(nullptr, [&] { code = run_program(L"x 9000"); });
    EXPECT_EQ(EXIT_NO_SPOOLER, code);
    EXPECT_EQ(52, fake.starts);
    EXPECT_EQ(51, fake.pauses);
    EXPECT_EQ(52, fake.queries);
    EXPECT_EQ(0, fake.sessions);
    EXPECT_EQ(2, fake.closed);
    EXPECT_NE(std::string::npos,
              err.find("err:printproxy:wWinMain start Spooler failed, eror 17\n"))
        << err;
}
