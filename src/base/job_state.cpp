#include "base/job_state.h"

#include <cstdlib>

PrintRequest *current_job;
int page_width;
int page_height;
HDC printer_dc;
HANDLE progress_thread;
int pages_received;
int pages_printed;
uint64_t document_started_at;

std::atomic<uint32_t> current_job_id;
std::atomic<uint32_t> job_state{JOB_STATE_IDLE};
std::atomic<HWND> progress_window;
std::atomic<int> user_cancel_requested;

void release_current_job() {
    free(current_job);
    current_job = nullptr;
}

void reset_job_state() {
    current_job = nullptr;
    page_width = page_height = 0;
    printer_dc = nullptr;
    progress_thread = nullptr;
    pages_received = pages_printed = 0;
    document_started_at = 0;
    current_job_id = 0;
    progress_window = nullptr;
    user_cancel_requested = 0;
    job_state = JOB_STATE_IDLE;
}
