// The print job state: the process-wide words through which the dispatcher,
// the handlers, the page printer, the progress window and the heartbeat
// thread know which job runs and how far it has got.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/print_request.h"

enum : uint32_t {
    JOB_STATE_ACCEPTED = 0,
    JOB_STATE_DOC_STARTED = 1,
    JOB_STATE_PAGE_STARTED = 2,
    JOB_STATE_LAST_PAGE = 3,
    JOB_STATE_IDLE = 4,
};

// Main thread only: the record of the running (or last) job, owned; the
// page counters; the document's device context and the window's thread.
extern PrintRequest *current_job;
extern int page_width;
extern int page_height;
extern HDC printer_dc;
extern HANDLE progress_thread;
extern int pages_received;
extern int pages_printed;
// When the document started (FILETIME units): an output file last written
// before it is not this job's.
extern uint64_t document_started_at;

// Shared with the heartbeat thread (job id, state) and the progress window
// thread (window handle, cancel flag).
extern std::atomic<uint32_t> current_job_id;
extern std::atomic<uint32_t> job_state;
extern std::atomic<HWND> progress_window;
extern std::atomic<int> user_cancel_requested;

// Zero everything, then mark the job idle. Session start only.
void reset_job_state();

inline bool job_active() {
    return job_state.load() <= JOB_STATE_LAST_PAGE;
}

// Releases current_job (if any) and clears it.
void release_current_job();
