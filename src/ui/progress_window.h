// The progress window: a small always-on-top window on a thread of its own
// that shows how many page messages of the job have arrived and lets the user
// cancel. Other threads reach it only by posting the four messages below; it
// answers only through user_cancel_requested (base/job_state.h).
#pragma once

#include <windows.h>

#include <atomic>

constexpr UINT WM_PROGRESS_CLOSE = WM_USER + 1;
constexpr UINT WM_PROGRESS_STEP = WM_USER + 2; // wParam: pages received so far
constexpr UINT WM_PROGRESS_TEXT =
    WM_USER + 3; // wParam: malloc'ed text or null, freed by the window
constexpr UINT WM_PROGRESS_LAST_PAGE = WM_USER + 4; // the document is being finished

// Thread routine; the parameter is the job's total page count itself.
DWORD WINAPI ProgressThreadProc(LPVOID total_pages);

// Installed on the progress window in place of the dialog class's procedure.
LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Posting routines of the dispatcher's thread; each does nothing while no
// window is recorded in progress_window.
void post_progress_text(const wchar_t *text);
void post_progress_step(int pages);
void post_progress_last_page();

// Closes the window of the running job: posts WM_PROGRESS_CLOSE to the
// recorded window and clears progress_window. A thread that is still creating
// its window when this runs destroys the window as soon as it exists, so the
// thread always ends.
void close_progress_window();

// Starts the window thread of a new job and returns its handle (null when the
// thread cannot be created). The caller stores it in progress_thread. A
// thread left over from an earlier job (ended without completion) is joined
// first.
HANDLE start_progress_thread(int total_pages);

// Waits for progress_thread (if any) to end, closes its handle and clears it.
// The wait is bounded by a minute as a safety net only: after
// close_progress_window the thread ends by itself.
void join_progress_thread();

// Set by close_progress_window, cleared by start_progress_thread.
extern std::atomic<int> progress_close_requested;
