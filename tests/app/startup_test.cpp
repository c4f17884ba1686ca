// Start-up's spooler step and socket library, with the service manager and
// WSAStartup faked: Wine's spooler always starts, so its failures need fakes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "support/rig.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Fake {
    int starts_needed;
    bool query_fails, manager_fails;
    int wsa_result;
    int queries, starts, pauses, sessions, closed, session_port;
} fake;

SC_HANDLE WINAPI fake_open_manager(LPCWSTR, LPCWSTR, DWORD) {
    return fake.manager_fails ? nullptr : reinterpret_cast<SC_HANDLE>(1);
}
SC_HANDLE WINAPI fake_open_service(SC_HANDLE, LPCWSTR name, DWORD) {
    return wcscmp(name, L"Spooler") == 0 ? reinterpret_cast<SC_HANDLE>(2) : nullptr;
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

} // namespace

TEST(Startup, SpoolerStepAndSocketLibrary) {
    StartupCalls saved = startup_calls;
    startup_calls = {fake_open_manager, fake_open_service, fake_query,       fake_start,
                     fake_close,        fake_sleep,        fake_wsa_startup, fake_main_loop};
    const struct {
        const char *name;
        int starts_needed;
        bool query_fails, manager_fails, no_rpc;
        int wsa_result;
        int exit_code, starts, pauses, queries, closed, sessions;
    } rows[] = {
        {"already running", 0, false, false, false, 0, 0, 0, 0, 1, 2, 1},
        {"started after three calls", 3, false, false, false, 0, 0, 3, 3, 4, 2, 1},
        {"never running: 52 calls", 1000, false, false, false, 0, 5, 52, 51, 52, 2, 0},
        {"status query fails", 0, true, false, false, 0, 5, 0, 0, 1, 2, 0},
        {"no service manager", 0, false, true, false, 0, 5, 0, 0, 0, 0, 0},
        {"NO_RPC skips the manager", 0, false, true, true, 0, 0, 0, 0, 0, 0, 1},
        {"socket library fails", 0, false, false, false, WSASYSNOTREADY, 6, 0, 0, 1, 2, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        fake = {row.starts_needed, row.query_fails, row.manager_fails, row.wsa_result};
        _putenv_s("NO_RPC", row.no_rpc ? "1" : "");
        int code = -1;
        std::string err = capture_debug_output(nullptr, [&] { code = run_program(L"x 9000"); });
        EXPECT_EQ(row.exit_code, code);
        EXPECT_EQ(row.starts, fake.starts);
        EXPECT_EQ(row.pauses, fake.pauses);
        EXPECT_EQ(row.queries, fake.queries);
        EXPECT_EQ(row.closed, fake.closed) << "service and manager handles closed";
        EXPECT_EQ(row.sessions ? 9000 : 0, fake.session_port);
        EXPECT_EQ(row.exit_code == 5, contains(err, "wWinMain start Spooler failed, eror 17\n"))
            << err;
    }
    startup_calls = saved;
}
