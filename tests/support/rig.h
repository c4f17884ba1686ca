// What the Wine unit tests share: the rig's printer, windows, the debug
// channel's output, and an end with its cause for a process that dies.
#pragma once

#include <windows.h>

#include <malloc.h>

#include <cstdlib>
#include <functional>
#include <string>

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Bytes in use on the C runtime's heap: what a leak leaves behind.
inline size_t crt_heap_in_use() {
    _HEAPINFO entry = {};
    size_t used = 0;
    while (_heapwalk(&entry) == _HEAPOK)
        used += entry._useflag == _USEDENTRY ? entry._size : 0;
    return used;
}

inline size_t count_of(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Waits end as soon as what they wait for happens; the bound only has to
// outlast a busy machine, where a new Wine prefix's first session also loads
// the font cache and the printer drivers.
constexpr int WAIT_LIMIT_MS = 30000;

inline std::string rig_printer() { // "" when the rig is not running
    return getenv("PROXY_TEST_PRINTER") ? getenv("PROXY_TEST_PRINTER") : "";
}
bool windows_can_be_created();
// The progress window once its thread has published it; null when no window
// can be created or none came within the wait limit.
HWND published_progress_window();
// The text of `window`'s first `control_class` child once it reads
// `expected`, else what it reads at the wait limit: posts take time.
std::wstring control_text(HWND window, const wchar_t *control_class, const wchar_t *expected);

// Ends the process with exit status 3 after writing `reason`, and whatever a
// capture in progress holds, to the real standard error.
[[noreturn]] void die(const char *reason);

// Runs `action` with the debug channel's fallbacks configured by PXQ=`pxq`
// and returns what they wrote to standard error.
std::string capture_debug_output(const char *pxq, const std::function<void()> &action);
