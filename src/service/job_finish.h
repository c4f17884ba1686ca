// The end of a print job, run once its last page message has been answered:
// the document is ended, the output file and the spool queue are waited for,
// the server gets the job result and the job returns to idle.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <string>

// `status` is the status the last page message was answered with.
void finish_print_job(uint32_t status);

// Waits for the output file at `path` to hold more than one byte, for at
// most 120 pauses. Run only when FORCE_SLEEP is set.
void wait_for_output_file(const std::wstring &path);

// Waits while the printer's queue reports jobs, spending spool_wait_budget.
void wait_for_spool_queue(const char *printer_name);

// Pauses of the spool wait left for the whole run of the program; they are
// never given back, so once they are spent no later job waits.
extern int spool_wait_budget;
// The pause of both waits.
extern DWORD finish_wait_period_ms;

// EnumJobsW by default. Wine 8's is a stub that never reports a job, so
// tests play a busy queue through this.
extern BOOL(WINAPI *enum_jobs_call)(HANDLE printer, DWORD first_job, DWORD job_count, DWORD level,
                                    LPBYTE buffer, DWORD buffer_size, LPDWORD needed,
                                    LPDWORD returned);
