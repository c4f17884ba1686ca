// The bounds every job of the application keeps to, as the owner sets them
// with -o options named like the CUPS queue's: a job that passes one is
// aborted with a message, and what it made is removed. Plain values and
// decisions, tested without a printer system.
#pragma once

#include <cstdint>
#include <string>

#include <cups/cups.h>

struct JobLimits {
    uint64_t max_seconds = 3600;                      // max-seconds: from the start of printing
    uint64_t max_output_bytes = uint64_t(4096) << 20; // max-output (MiB): the driver's output
    uint64_t max_page_bytes = uint64_t(1) << 30;      // max-page (MiB): A3 at 1200 dpi in colour
    uint64_t max_pages = 10000;                       // max-pages: printed, copies included
    uint64_t stall_seconds = 30;                      // stall-seconds: a sender's silence
    // A document received from a client: the CUPS queue's own bound.
    uint64_t max_document_bytes = uint64_t(4) << 30;
};

// Reads the bounds that `options` name into `limits`; the complaint about
// the first value that is not a whole number within its range, else empty.
std::string read_job_limits(int num_options, cups_option_t *options, JobLimits &limits);

// Why a job that has run `seconds` and whose driver has written
// `output_bytes` must end; empty while it may go on.
std::string limit_passed(const JobLimits &limits, int64_t seconds, uint64_t output_bytes);

// Why a document still arriving is refused: `received` bytes so far, the
// last of them `idle_seconds` ago; empty while it may go on.
std::string spool_problem(const JobLimits &limits, uint64_t received, int64_t idle_seconds);

// Why a job of `pages` pages (copies included) is refused; empty if it is not.
std::string page_total_problem(uint64_t pages, uint64_t max_pages);
