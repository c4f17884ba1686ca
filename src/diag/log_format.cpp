// Pure: builds natively, no windows.h.
#include "diag/log_format.h"

#include <cstdarg>
#include <cstdio>

int format_log_stamp_at(char *buffer, const LogTime &t) {
    int length = snprintf(buffer, LOG_STAMP_SIZE, "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", t.year,
                          t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
    if (length < 0 || length >= LOG_STAMP_SIZE) {
        buffer[0] = 0;
        return -1;
    }
    return length;
}

int format_log_text(char *buffer, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, LOG_TEXT_SIZE, format, args);
    va_end(args);
    if (length < 0)
        return -1;
    return length < LOG_TEXT_SIZE ? length : LOG_TEXT_SIZE - 1;
}
