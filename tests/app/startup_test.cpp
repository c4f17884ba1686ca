// Start-up's spooler step and socket library, with the service manager and
// WSAStartup faked (Wine's spooler always starts); the command line split as
// the real CommandLineToArgvW splits generated lines.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "app/command_line.h"
#include "app/startup.h"
#include "support/rig.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Fake {
    int starts_needed;
    bool query_fails, manager_fails, service_fails;
    int wsa_result;
    int queries, starts, pauses, closed, session_port;
} fake;

} // namespace

// Each row: command-line tail, NO_RPC, fakes; exit code, start calls, pauses,
// status queries, service and manager handles closed, the session's port (0:
// no session), a part of the err lines.
TEST(Startup, CommandLineSpoolerStepAndSocketLibrary) {
    StartupCalls saved = startup_calls;
    startup_calls = {
        [](LPCWSTR, LPCWSTR, DWORD) { return fake.manager_fails ? nullptr : SC_HANDLE(1); },
        [](SC_HANDLE, LPCWSTR name, DWORD) {
            return wcscmp(name, L"Spooler") || fake.service_fails ? nullptr : SC_HANDLE(2);
        },
        [](SC_HANDLE, LPSERVICE_STATUS status) -> BOOL {
            fake.queries++;
            status->dwCurrentState = fake.starts >= fake.starts_needed ? SERVICE_RUNNING : 1;
            return !fake.query_fails;
        },
        [](SC_HANDLE, DWORD, LPCWSTR *) -> BOOL { return fake.starts++ < 0; },
        [](SC_HANDLE) -> BOOL { return ++fake.closed; },
        [](DWORD) { fake.pauses++; },
        [](WORD, LPWSADATA) { return fake.wsa_result; },
        [](int port) { return fake.session_port = port, 0; }};
    // clang-format off
    const struct {
        const char *name; const wchar_t *line; const char *no_rpc; Fake fake;
        int exit_code, starts, pauses, queries, closed, port; const char *err;
    } rows[] = {
        {"no entries", L"", "1", {}, 1, 0, 0, 0, 0, 0, "参数不足。用法: tavri-printer-proxy <端口>\n"},
        {"one entry", L"9000", "1", {}, 1, 0, 0, 0, 0, 0, "参数不足"},
        {"port 0", L"x 0", "1", {}, 2, 0, 0, 0, 0, 0, "无效的端口号: 0\n"},
        {"port 65536", L"x 65536", "1", {}, 2, 0, 0, 0, 0, 0, "无效的端口号: 65536\n"},
        {"port text", L"x abc", "1", {}, 2, 0, 0, 0, 0, 0, "无效的端口号: 0\n"},
        {"digits, then text; a third entry", L"x 65535x 9100", "1", {}, 0, 0, 0, 0, 0, 65535, ""},
        {"spooler already running", L"x 1", "", {}, 0, 0, 0, 1, 2, 1, ""},
        {"NO_RPC 0abc runs the step", L"x 9000", "0abc", {.starts_needed = 3}, 0, 3, 3, 4, 2, 9000, ""},
        {"never running: 52 calls", L"x 9000", "", {.starts_needed = 1000}, 5, 52, 51, 52, 2, 0, "wWinMain start Spooler failed, eror 17\n"},
        {"status query fails", L"x 9000", "", {.query_fails = true}, 5, 0, 0, 1, 2, 0, "eror 17"},
        {"no service manager", L"x 9000", "", {.manager_fails = true}, 5, 0, 0, 0, 0, 0, "eror 17"},
        {"no spooler service", L"x 9000", "", {.service_fails = true}, 5, 0, 0, 0, 1, 0, "eror 17"},
        {"socket library fails", L"x 9000", "", {.wsa_result = WSASYSNOTREADY}, 6, 0, 0, 1, 2, 0, ""},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        fake = row.fake;
        _putenv_s("NO_RPC", row.no_rpc);
        int code = -1;
        std::string err = capture_debug_output(nullptr, [&] { code = run_program(row.line); });
        EXPECT_EQ(
            std::vector({row.exit_code, row.starts, row.pauses, row.queries, row.closed, row.port}),
            std::vector(
                {code, fake.starts, fake.pauses, fake.queries, fake.closed, fake.session_port}));
        EXPECT_TRUE(contains(err, row.err)) << err;
    }
    startup_calls = saved;
}

TEST(CommandLine, SplitsAsThePlatformDoes) {
    const wchar_t alphabet[] = L"a1 \t\"\\";
    std::mt19937 random(7);
    for (int round = 0; round < 5000; ++round) {
        std::wstring line;
        for (size_t n = random() % 12; n > 0; --n)
            line += alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)];
        if (line.empty())
            continue;
        int count = 0;
        LPWSTR *argv = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(nullptr, argv);
        EXPECT_EQ(std::vector<std::wstring>(argv, argv + count), split_command_line(line.c_str()))
            << "line [" << testing::PrintToString(line) << "]";
        LocalFree(argv);
    }
}
