// Pure: builds natively, no windows.h.
// Formatting of progress lines: a local-time stamp, then the message.
// The clock is read by log_line.h.
#pragma once

constexpr int LOG_STAMP_SIZE = 64;
constexpr int LOG_TEXT_SIZE = 1024;

struct LogTime {
    int year, month, day, hour, minute, second, millisecond;
};

// "[YYYY-MM-DD hh:mm:ss.mmm] " into a LOG_STAMP_SIZE buffer; returns its
// length, or -1 when it does not fit.
int format_log_stamp_at(char *buffer, const LogTime &time);

// snprintf into a LOG_TEXT_SIZE buffer: cut at 1023 characters, always
// terminated. Returns the formatted length, or -1 when formatting fails.
int format_log_text(char *buffer, const char *format, ...) __attribute__((format(printf, 2, 3)));
