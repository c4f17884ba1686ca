#include "diag/log_line.h"

#include <windows.h>

void format_log_stamp(char *buffer) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                    now.wMinute, now.wSecond, now.wMilliseconds};
    format_log_stamp_at(buffer, time);
}

void log_line(const char *function_name, const char *text) {
    TRACE_ON(dbch_printproxy, function_name, "%s", text);
}
