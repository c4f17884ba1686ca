// Start and end of the progress window's thread, one per bitmap job.
#include "diag/debug_channel.h"
#include "base/job_state.h"
#include "ui/progress_window.h"

namespace {
// A safety net only: after close_progress_window the thread ends by itself.
constexpr DWORD JOIN_LIMIT_MS = 60000;
} // namespace

HANDLE start_progress_thread(int total_pages) {
    if (progress_thread) {
        // A job ended by the server without completion leaves its thread
        // unjoined; its window must not outlive it.
        close_progress_window();
        join_progress_thread();
    }
    progress_close_requested.store(0);
    LPVOID parameter = reinterpret_cast<LPVOID>(static_cast<INT_PTR>(total_pages));
    return CreateThread(nullptr, 0, ProgressThreadProc, parameter, 0, nullptr);
}

void join_progress_thread() {
    HANDLE thread = progress_thread;
    if (!thread)
        return;
    if (WaitForSingleObject(thread, JOIN_LIMIT_MS) != WAIT_OBJECT_0)
        ERR_ON(dbch_printproxy, "join_progress_thread", "progress thread %p did not end\n", thread);
    CloseHandle(thread);
    progress_thread = nullptr;
}
