#include "app/spooler.h"

#include <winsock2.h>

#include <memory>

#include "app/startup.h"
#include "diag/log_line.h"

namespace {

constexpr int MAX_START_CALLS = 52;
constexpr DWORD START_PAUSE_MS = 100;

struct ServiceHandleCloser {
    using pointer = SC_HANDLE;
    void operator()(SC_HANDLE handle) const { startup_calls.close_service_handle(handle); }
};
using ServiceHandle = std::unique_ptr<SC_HANDLE__, ServiceHandleCloser>;

// Queries, and starts the service while it is not running; true when the
// last successful query said SERVICE_RUNNING.
bool wait_until_running(SC_HANDLE service) {
    for (int start_calls = 0;;) {
        SERVICE_STATUS status;
        if (!startup_calls.query_service_status(service, &status))
            return false;
        if (status.dwCurrentState == SERVICE_RUNNING)
            return true;
        startup_calls.start_service(service, 0, nullptr);
        if (++start_calls == MAX_START_CALLS)
            return false;
        startup_calls.sleep(START_PAUSE_MS);
    }
}

} // namespace

int start_spooler_service() {
    LOG_PROGRESS("wWinMain", "%sStart spooler service...\n");
    ServiceHandle manager(startup_calls.open_sc_manager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    // Declared after the manager so that it is closed first.
    ServiceHandle service(startup_calls.open_service(manager.get(), L"Spooler",
                                                     SERVICE_QUERY_STATUS | SERVICE_START));
    if (!service)
        return 0;
    return wait_until_running(service.get()) ? 1 : 0;
}
