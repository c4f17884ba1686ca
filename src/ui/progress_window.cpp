// The progress window's thread: builds the window and its three controls,
// publishes it and runs the thread's message loop until the window is gone.
#include "ui/progress_window.h"

#include <windows.h>
#include <commctrl.h>
#include <imm.h>

#include <cstdlib>
#include <memory>

#include "diag/debug_channel.h"
#include "base/heap_ptr.h"
#include "base/job_state.h"
#include "ui/progress_window_data.h"

WNDPROC original_window_proc;

namespace {

// The progress window is a dialog-class window with our own procedure.
const wchar_t WINDOW_CLASS[] = L"#32770";

using DataPtr = HeapPtr<ProgressWindowData>;

constexpr int WINDOW_WIDTH = 300;
constexpr int WINDOW_HEIGHT = 145;
// 0x90C00000: a caption without system menu, hence without close box; the
// desktop can still ask to close it (SC_CLOSE), and then the user is asked.
constexpr DWORD WINDOW_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION;
constexpr DWORD CHILD_STYLE = WS_CHILD | WS_VISIBLE;

HWND create_frame() {
    int x = (GetSystemMetrics(SM_CXSCREEN) - WINDOW_WIDTH) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - WINDOW_HEIGHT) / 2;
    return CreateWindowExW(WS_EX_TOPMOST, WINDOW_CLASS, nullptr, WINDOW_STYLE, x, y, WINDOW_WIDTH,
                           WINDOW_HEIGHT, nullptr, nullptr, nullptr, nullptr);
}

struct Placement {
    int x, y, width, height;
};

HWND create_child(HWND parent, const wchar_t *window_class, const wchar_t *text, DWORD style,
                  Placement place, int id) {
    HMENU menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
    return CreateWindowExW(0, window_class, text, style, place.x, place.y, place.width,
                           place.height, parent, menu, nullptr, nullptr);
}

void create_controls(ProgressWindowData &data, const wchar_t *first_status) {
    data.status_text = create_child(data.window, L"STATIC", first_status, CHILD_STYLE | SS_CENTER,
                                    {20, 10, 260, 20}, 0);
    data.progress_bar =
        create_child(data.window, PROGRESS_CLASSW, nullptr, CHILD_STYLE, {20, 40, 260, 20}, 0);
    data.button = create_child(data.window, L"BUTTON", PROGRESS_CANCEL_LABEL,
                               CHILD_STYLE | BS_NOTIFY, {110, 70, 80, 30}, PROGRESS_BUTTON_ID);
}

void register_progress_bar_class() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

void set_bar_range(HWND bar, int total_pages) {
    // The bar's upper limit is a 16-bit word: a larger total keeps its low 16 bits.
    LPARAM range = static_cast<LPARAM>(static_cast<DWORD>(total_pages) << 16);
    SendMessageW(bar, PBM_SETRANGE, 0, range);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
}

// A close that came while the window did not exist yet found nothing to post
// to; it left its request behind instead. Both sides use sequentially
// consistent order, so either the closer saw the published window or the
// request is seen here.
bool close_requested_early(HWND window) {
    if (!progress_close_requested.load())
        return false;
    HWND published = window;
    progress_window.compare_exchange_strong(published, nullptr);
    DestroyWindow(window);
    return true;
}

void run_message_loop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // A text posted just before the window went away still owns its copy.
        if (msg.message == WM_PROGRESS_TEXT && !IsWindow(msg.hwnd)) {
            free(reinterpret_cast<void *>(msg.wParam));
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace

DWORD WINAPI ProgressThreadProc(LPVOID total_pages_parameter) {
    int total_pages = static_cast<int>(reinterpret_cast<INT_PTR>(total_pages_parameter));
    DataPtr data(static_cast<ProgressWindowData *>(calloc(1, sizeof(ProgressWindowData))));
    if (!data)
        return 0;
    // The window takes no typed input. Without an input method its thread
    // makes no IME window, which under Wine also starts COM (ole32, rpcrt4):
    // a third of the window's cost to appear, paid during the first page.
    ImmDisableIME(0);
    register_progress_bar_class();
    wchar_t first_status[PROGRESS_STATUS_SIZE];
    wsprintfW(first_status, PROGRESS_FIRST_STATUS_FORMAT, total_pages);

    data->window = create_frame();
    if (!data->window) {
        ERR_ON(dbch_printproxy, "ProgressThreadProc", "CreateWindowExW failed, %lx\n",
               GetLastError());
        return 0;
    }
    create_controls(*data, first_status);
    data->total_pages = total_pages;

    HWND window = data->window;
    HWND bar = data->progress_bar;
    original_window_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressWndProc)));
    progress_window.store(window);
    // From here the window owns the record and frees it on WM_DESTROY.
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data.release()));

    if (!close_requested_early(window)) {
        set_bar_range(bar, total_pages);
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    run_message_loop();
    return 0;
}
