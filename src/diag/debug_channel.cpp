// Emission of debug messages and resolution of the four primitives: the
// host's ntdll exports when present, the fallbacks otherwise.
#include "diag/debug_channel.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdint>

#include "diag/debug_fallback.h"
#include "diag/quote.h"

DebugChannel dbch_printer = {0xFF, "printproxy"};
DebugChannel dbch_printproxy = {0xFF, "printproxy"};

namespace {

using GetFlagsFn = unsigned char(__cdecl *)(DebugChannel *);
using StrdupFn = const char *(__cdecl *)(const char *);
using OutputFn = int(__cdecl *)(const char *);
using HeaderFn = int(__cdecl *)(int, DebugChannel *, const char *);

std::atomic<GetFlagsFn> get_flags_slot{nullptr};
std::atomic<StrdupFn> strdup_slot{nullptr};
std::atomic<OutputFn> output_slot{nullptr};
std::atomic<HeaderFn> header_slot{nullptr};

// Looks `name` up in ntdll, keeping the caller's last-error value intact:
// a log call must not disturb an error code about to be read.
template <typename Fn>
Fn resolve(std::atomic<Fn> &slot, const char *name, Fn fallback) {
    Fn fn = slot.load();
    if (fn)
        return fn;
    DWORD saved_error = GetLastError();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll ? GetProcAddress(ntdll, name) : nullptr;
    SetLastError(saved_error);
    fn = found ? reinterpret_cast<Fn>(reinterpret_cast<void *>(found)) : fallback;
    slot.exchange(fn);
    return fn;
}

const char *keep_string(const char *text) {
    return resolve(strdup_slot, "__wine_dbg_strdup", &fallback_strdup)(text);
}

} // namespace

unsigned char debug_get_channel_flags(DebugChannel *channel) {
    return resolve(get_flags_slot, "__wine_dbg_get_channel_flags",
                   &fallback_get_channel_flags)(channel);
}

void debug_use_fallback_primitives() {
    get_flags_slot.exchange(&fallback_get_channel_flags);
    strdup_slot.exchange(&fallback_strdup);
    output_slot.exchange(&fallback_output);
    header_slot.exchange(&fallback_header);
}

int emit_debug_message(int cls, DebugChannel *channel, const char *function_name,
                       const char *format, ...) {
    if (*format == '\1') {
        format++;
        function_name = nullptr;
    }
    HeaderFn header = resolve(header_slot, "__wine_dbg_header", &fallback_header);
    int header_length = header(cls, channel, function_name);
    if (header_length == -1)
        return -1;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    OutputFn output = resolve(output_slot, "__wine_dbg_output", &fallback_output);
    return header_length + output(buffer);
}

const char *debug_sprintf(const char *format, ...) {
    char buffer[200];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return keep_string(buffer);
}

namespace {

// The checks shared by both quoting helpers; null when the pointer is a string.
template <typename Char, typename IsBad>
const char *quote_special_cases(const Char *s, IsBad is_bad) {
    if (!s)
        return "(null)";
    if (reinterpret_cast<uintptr_t>(s) < 0x10000)
        return debug_sprintf("#%04x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(s)));
    if (is_bad(s, ~static_cast<UINT_PTR>(0)))
        return "(invalid)";
    return nullptr;
}

} // namespace

const char *quote_ansi_string(const char *s) {
    if (const char *special = quote_special_cases(s, IsBadStringPtrA))
        return special;
    return keep_string(render_quoted_narrow(s).c_str());
}

const char *quote_wide_string(const wchar_t *s) {
    if (const char *special = quote_special_cases(s, IsBadStringPtrW))
        return special;
    return keep_string(render_quoted_wide(reinterpret_cast<const char16_t *>(s)).c_str());
}
