#include "service/job_finish.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

#include "diag/log_line.h"
#include "net/send_queue.h"
#include "printer/doc_start.h"
#include "printer/printer_handle.h"
#include "base/heap_ptr.h"
#include "base/job_state.h"
#include "base/protocol_codes.h"
#include "winpath/unix_path.h"
#include "ui/progress_window.h"

int spool_wait_budget = 100;
DWORD finish_wait_period_ms = 100;
BOOL(WINAPI *enum_jobs_call)
(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) = EnumJobsW;

namespace {

const char FUNCTION[] = "HandlePageFilename";

// With FORCE_SLEEP the output file gets this many checks, a pause each.
constexpr int OUTPUT_FILE_CHECKS = 120;

using UnixPath = HeapPtr<char>;

// Filesystem times may be coarser than the clock the start was read from.
constexpr uint64_t FILE_TIME_SLACK = 2 * 10000000ull;

// The driver reports some failures to write only through EndDoc, others
// not at all: the file itself must show this job wrote it.
bool output_file_written(const std::wstring &path) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info))
        return false;
    uint64_t written =
        (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    bool empty = info.nFileSizeHigh == 0 && info.nFileSizeLow == 0;
    return !empty && written + FILE_TIME_SLACK >= document_started_at;
}

// The record's names are read only up to their own field.
const char *job_name(const char (&field)[PRINTER_NAME_SIZE]) {
    return name_field_terminated(field) ? field : nullptr;
}

} // namespace

void wait_for_output_file(const std::wstring &path) {
    for (int check = 0; check < OUTPUT_FILE_CHECKS; ++check) {
        struct _stat64 info;
        if (_wstat64(path.c_str(), &info) == 0 && info.st_size > 1)
            return;
        Sleep(finish_wait_period_ms);
        LOG_PROGRESS(FUNCTION, "%swait file generates...\n");
    }
}

void wait_for_spool_queue(const char *printer_name) {
    HANDLE raw = nullptr;
    if (!OpenPrinterA(const_cast<char *>(printer_name), &raw, nullptr))
        return;
    PrinterHandle printer(raw);
    while (spool_wait_budget > 0) {
        DWORD needed = 0;
        DWORD count = 1;
        // Wine 8's EnumJobsW fails without setting an error: a value left
        // over from an earlier call must not pass for "insufficient buffer".
        SetLastError(ERROR_SUCCESS);
        BOOL answered = enum_jobs_call(raw, 0, 0xFFFF, 1, nullptr, 0, &needed, &count);
        if (!answered && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        LOG_PROGRESS(FUNCTION, "%sJob count %ld\n", static_cast<long>(count));
        if (count == 0)
            break;
        Sleep(finish_wait_period_ms);
        --spool_wait_budget;
    }
}

void finish_print_job(uint32_t status) {
    const char *output_name = current_job ? job_name(current_job->output_file_name) : nullptr;
    const char *printer_name = current_job ? job_name(current_job->printer_name) : nullptr;
    WideText wide_output(output_name ? ansi_to_wide(output_name) : nullptr);
    job_state.store(JOB_STATE_LAST_PAGE);
    post_progress_last_page();
    // The file is looked for where the document start told the driver to
    // write it; a job whose document never started printed no page.
    std::wstring output_path = document_output_path();
    bool ended = finish_document();
    if (getenv("FORCE_SLEEP") && !output_path.empty())
        wait_for_output_file(output_path);
    if (printer_name)
        wait_for_spool_queue(printer_name);
    UnixPath unix_path(wide_output ? get_unix_file_name(wide_output.get()) : nullptr);
    if (pages_printed != 0 && !(ended && output_file_written(output_path))) {
        ERR_ON(dbch_printproxy, FUNCTION, "output file %s not written\n",
               quote_ansi_string(output_name));
        send_job_result(STATUS_IO_FAILED, nullptr);
    } else if (pages_printed != 0) {
        send_job_result(status, unix_path.get());
    }
    wide_output.reset();
    pages_printed = 0;
    pages_received = 0;
    close_progress_window();
    join_progress_thread();
    LOG_PROGRESS(FUNCTION, "%sprint finish.\n");
    job_state.store(JOB_STATE_IDLE);
}
