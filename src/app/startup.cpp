#include "app/startup.h"

#include <winsock2.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/session.h"
#include "app/spooler.h"
#include "diag/log_line.h"

StartupCalls startup_calls = {OpenSCManagerW,     OpenServiceW, QueryServiceStatus, StartServiceW,
                              CloseServiceHandle, Sleep,        WSAStartup,         MainLoop};

namespace {

// NO_RPC skips the spooler step unless it is unset or begins with '0'.
bool spooler_step_wanted(const char *no_rpc) {
    return !no_rpc || no_rpc[0] == '0';
}

} // namespace

int run_program(const wchar_t *command_line) {
    const char *no_rpc = getenv("NO_RPC");
    std::vector<std::wstring> entries = split_command_line(command_line);
    if (entries.size() < 2) {
        ERR_ON(dbch_printproxy, "wWinMain", "参数不足。用法: tavri-printer-proxy <端口>\n");
        return EXIT_USAGE;
    }
    int port = _wtoi(entries[1].c_str());
    if (port < 1 || port > 65535) {
        ERR_ON(dbch_printproxy, "wWinMain", "无效的端口号: %d\n", port);
        return EXIT_BAD_PORT;
    }
    LOG_PROGRESS("wWinMain", "%srunning...\n");
    if (spooler_step_wanted(no_rpc) && !start_spooler_service()) {
        ERR_ON(dbch_printproxy, "wWinMain", "start Spooler failed, eror %d\n", 17);
        return EXIT_NO_SPOOLER;
    }
    WSADATA wsa;
    if (startup_calls.wsa_startup(MAKEWORD(2, 2), &wsa) != 0)
        return EXIT_NO_SOCKETS;
    startup_calls.main_loop(port);
    WSACleanup();
    LOG_PROGRESS("wWinMain", "%sClient exited\n");
    return EXIT_AFTER_SESSION;
}
