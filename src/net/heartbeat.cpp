#include "net/heartbeat.h"

#include <atomic>

#include "diag/log_line.h"
#include "base/byte_order.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "net/timing.h"
#include "base/job_state.h"

HANDLE heartbeat_thread;
HANDLE heartbeat_event;

const wchar_t HEARTBEAT_EVENT_NAME[] = L"Global\\TavriPrinterProxy_heartbeat_Event";

namespace {

// How often a stop re-signals the event while it waits for the thread.
constexpr DWORD STOP_RESIGNAL_MS = 50;

// Tells a thread to end at its next wake-up whatever the job state says: a
// timer replaced by a new job's would otherwise find that job active.
std::atomic<bool> heartbeat_stopping;

void close_timer_handles() {
    if (heartbeat_event)
        CloseHandle(heartbeat_event);
    if (heartbeat_thread)
        CloseHandle(heartbeat_thread);
    heartbeat_event = heartbeat_thread = nullptr;
}

// The event's name is global to the desktop: another process holding the
// same name may consume a wake-up. Keep signalling until our thread is gone.
void wake_and_join(HANDLE thread, HANDLE event) {
    heartbeat_stopping = true;
    do {
        SetEvent(event);
    } while (WaitForSingleObject(thread, STOP_RESIGNAL_MS) == WAIT_TIMEOUT);
}

// A timer whose thread ended by itself, or one still running for a job that
// is over, is finished before a new one is armed.
void end_previous_timer() {
    if (heartbeat_thread && heartbeat_event)
        wake_and_join(heartbeat_thread, heartbeat_event);
    close_timer_handles();
}

} // namespace

void set_heartbeat_timer() {
    end_previous_timer();
    heartbeat_event = CreateEventW(nullptr, FALSE, FALSE, HEARTBEAT_EVENT_NAME);
    if (!heartbeat_event) {
        ERR_ON(dbch_printproxy, "set_heartbeat_timer", "CreateEvent failed: %ld\n",
               static_cast<long>(GetLastError()));
        return;
    }
    heartbeat_stopping = false;
    heartbeat_thread = CreateThread(nullptr, 0, HeartbeatThreadProc, heartbeat_event, 0, nullptr);
    if (!heartbeat_thread) {
        ERR_ON(dbch_printproxy, "set_heartbeat_timer", "CreateThread failed: %ld\n",
               static_cast<long>(GetLastError()));
        close_timer_handles();
    }
}

void stop_heartbeat_timer() {
    job_state = JOB_STATE_IDLE;
    if (!heartbeat_thread)
        return;
    wake_and_join(heartbeat_thread, heartbeat_event);
    close_timer_handles();
}

DWORD WINAPI HeartbeatThreadProc(LPVOID event) {
    if (!event)
        return 1;
    return TimerLoop(static_cast<HANDLE>(event));
}

int TimerLoop(HANDLE event) {
    for (;;) {
        unsigned char body[4];
        write_be32(body, current_job_id.load());
        WaitForSingleObject(event, heartbeat_period_ms.load());
        LOG_PROGRESS("TimerLoop", "%ssend heartbeat.\n");
        send_packet(MSG_HEARTBEAT, 0, body, sizeof(body));
        if (job_state.load() > JOB_STATE_LAST_PAGE || heartbeat_stopping.load())
            return 0;
    }
}
