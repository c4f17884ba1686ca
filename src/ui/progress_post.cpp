// Posting to the progress window from the dispatcher's thread. Posts only,
// never sends: no poster ever waits for the window.
#include <cstdlib>
#include <cwchar>

#include "base/job_state.h"
#include "ui/progress_window.h"

std::atomic<int> progress_close_requested;

void post_progress_text(const wchar_t *text) {
    HWND window = progress_window.load();
    if (!text || !window)
        return;
    // The window frees the copy; a post that is refused leaves it here.
    wchar_t *copy = _wcsdup(text);
    if (!PostMessageW(window, WM_PROGRESS_TEXT, reinterpret_cast<WPARAM>(copy), 0))
        free(copy);
}

void post_progress_step(int pages) {
    HWND window = progress_window.load();
    if (window)
        PostMessageW(window, WM_PROGRESS_STEP, static_cast<WPARAM>(pages), 0);
}

void post_progress_last_page() {
    HWND window = progress_window.load();
    if (window)
        PostMessageW(window, WM_PROGRESS_LAST_PAGE, 0, 0);
}

void close_progress_window() {
    // Request first, then look for the window: the window's thread publishes
    // first, then looks for the request (see ProgressThreadProc).
    progress_close_requested.store(1);
    HWND window = progress_window.exchange(nullptr);
    if (window)
        PostMessageW(window, WM_PROGRESS_CLOSE, 0, 0);
}
