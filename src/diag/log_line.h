// Progress lines: stamped trace messages of the session, transport and job
// code. Built only when the trace class is on: nothing is formatted otherwise.
#pragma once

#include "diag/debug_channel.h"
#include "diag/log_format.h"

// Current local time as a stamp (see format_log_stamp_at).
void format_log_stamp(char *buffer);

// Emits `text` as a trace message of the channel under `function_name`.
void log_line(const char *function_name, const char *text);

inline bool progress_lines_on() {
    return debug_class_on(&dbch_printproxy, DBG_TRACE);
}

// LOG_PROGRESS("MainLoop", "%sNew connection request: %d\n", port): the
// format's leading %s receives the stamp.
#define LOG_PROGRESS(function_name, format, ...)                                                   \
    do {                                                                                           \
        if (progress_lines_on()) {                                                                 \
            char log_stamp_[LOG_STAMP_SIZE];                                                       \
            char log_text_[LOG_TEXT_SIZE];                                                         \
            format_log_stamp(log_stamp_);                                                          \
            format_log_text(log_text_, format, log_stamp_ __VA_OPT__(, ) __VA_ARGS__);             \
            log_line(function_name, log_text_);                                                    \
        }                                                                                          \
    } while (0)
