#include "app/spooler.h"

#include <windows.h>

#include <memory>

#include "diag/log_line.h"

namespace {

constexpr int MAX_START_CALLS = 52;

struct ServiceHandleCloser {
    using pointer = SC_HANDLE;
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<SC_HANDLE__, ServiceHandleCloser>;

// Queries, and starts the service while it is not running; true when the
// last successful query said SERVICE_RUNNING.
bool wait_until_running(SC_HANDLE service, int pause_ms) {
    for (int start_calls = 0;;) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == SERVICE_RUNNING)
            return true;
        StartServiceW(service, 0, nullptr);
        if (++start_calls == MAX_START_CALLS)
            return false;
        Sleep(pause_ms);
    }
}

} // namespace

int start_spooler_service(int pause_ms) {
    LOG_PROGRESS("wWinMain", "%sStart spooler service...\n");
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    // Declared after the manager so that it is closed first.
    ServiceHandle service(
        OpenServiceW(manager.get(), L"Spooler", SERVICE_QUERY_STATUS | SERVICE_START));
    if (!service)
        return 0;
    return wait_until_running(service.get(), pause_ms) ? 1 : 0;
}
