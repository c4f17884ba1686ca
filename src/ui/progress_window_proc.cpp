// The progress window's procedure: follows the posted progress messages and
// turns the button and the close box into a cancel by the user.
#include <cstdlib>
#include <memory>

#include <windows.h>
#include <commctrl.h>

#include "base/job_state.h"
#include "ui/progress_window.h"
#include "ui/progress_window_data.h"

namespace {

ProgressWindowData *window_data(HWND window) {
    return reinterpret_cast<ProgressWindowData *>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void show_step(const ProgressWindowData &data, WPARAM pages) {
    if (data.progress_bar)
        SendMessageW(data.progress_bar, PBM_SETPOS, pages, 0);
    if (data.status_text) {
        wchar_t status[PROGRESS_STATUS_SIZE];
        wsprintfW(status, PROGRESS_STATUS_FORMAT, static_cast<int>(pages), data.total_pages);
        SetWindowTextW(data.status_text, status);
    }
}

void show_text(const ProgressWindowData &data, const wchar_t *text) {
    if (data.button)
        SetWindowTextW(data.button, PROGRESS_DONE_LABEL);
    if (data.status_text && text)
        SetWindowTextW(data.status_text, text);
}

void show_last_page(const ProgressWindowData &data) {
    if (!data.button)
        return;
    SetWindowTextW(data.button, PROGRESS_WAIT_LABEL);
    EnableWindow(data.button, FALSE);
}

void cancel_by_user(HWND window) {
    user_cancel_requested.store(1);
    DestroyWindow(window);
}

void confirm_close(HWND window) {
    int answer = MessageBoxW(window, PROGRESS_CONFIRM_TEXT, PROGRESS_CONFIRM_CAPTION,
                             MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES)
        cancel_by_user(window);
}

LRESULT on_destroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    free(window_data(window));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_window_proc));
    PostQuitMessage(0);
    return CallWindowProcW(original_window_proc, window, message, wParam, lParam);
}

} // namespace

LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ProgressWindowData *data = window_data(window);
    switch (message) {
    case WM_PROGRESS_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) != PROGRESS_BUTTON_ID)
            break;
        cancel_by_user(window);
        return 0;
    case WM_SYSCOMMAND:
        if (wParam != SC_CLOSE)
            break;
        confirm_close(window);
        return 0;
    case WM_PROGRESS_STEP:
        if (data)
            show_step(*data, wParam);
        return 0;
    case WM_PROGRESS_TEXT: {
        // The posted copy belongs to the window whatever becomes of it.
        std::unique_ptr<wchar_t, decltype(&free)> text(reinterpret_cast<wchar_t *>(wParam), free);
        if (data)
            show_text(*data, text.get());
        return 0;
    }
    case WM_PROGRESS_LAST_PAGE:
        if (data)
            show_last_page(*data);
        return 0;
    case WM_DESTROY:
        return on_destroy(window, message, wParam, lParam);
    }
    return CallWindowProcW(original_window_proc, window, message, wParam, lParam);
}
