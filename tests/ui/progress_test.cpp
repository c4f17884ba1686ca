// The progress window on its own thread, driven by the posting routines.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/job_state.h"
#include "support/rig.h"
#include "ui/progress_window.h"

namespace {

std::wstring text_of(HWND window) {
    wchar_t text[128] = L"";
    GetWindowTextW(window, text, 128);
    return text;
}

bool thread_ends(HANDLE thread) {
    return WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
}

} // namespace

TEST(Progress, WindowFollowsStepsTextAndLastPage) {
    if (!windows_can_be_created())
        GTEST_SKIP() << "no X display (DISPLAY=" << (getenv("DISPLAY") ? getenv("DISPLAY") : "")
                     << ")";
    reset_job_state();
    progress_thread = start_progress_thread(5);
    HWND window = nullptr;
    for (int i = 0; i < 500 && !(window = progress_window.load()); ++i)
        Sleep(10);
    ASSERT_NE(nullptr, window) << "no window in 5 s";
    HWND status = FindWindowExW(window, nullptr, L"STATIC", nullptr);
    HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    HWND button = FindWindowExW(window, nullptr, L"BUTTON", nullptr);
    EXPECT_EQ(L"打印预处理进度: 0 / 5", text_of(status));
    EXPECT_EQ(WS_EX_TOPMOST, GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    post_progress_step(2);
    post_progress_last_page();
    SendMessageW(window, WM_NULL, 0, 0); // the posts before it are handled
    EXPECT_EQ(L"打印预处理进度: 2 / 5", text_of(status));
    EXPECT_EQ(2, SendMessageW(bar, PBM_GETPOS, 0, 0));
    EXPECT_EQ(5, SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(L"请稍候...", text_of(button));
    EXPECT_FALSE(IsWindowEnabled(button));
    post_progress_text(L"预处理失败!");
    SendMessageW(window, WM_NULL, 0, 0);
    EXPECT_EQ(L"预处理失败!", text_of(status));
    EXPECT_EQ(L"确定", text_of(button));
    close_progress_window();
    EXPECT_TRUE(thread_ends(progress_thread)) << "closed window, thread still running";
    join_progress_thread();
    EXPECT_EQ(nullptr, progress_window.load());
    EXPECT_EQ(0, user_cancel_requested.load()) << "a close is not a cancel";
}

// A close that comes before the window exists still ends the thread.
TEST(Progress, CloseRacingTheWindowsCreationEndsTheThread) {
    reset_job_state();
    for (int round = 0; round < 20; ++round) {
        progress_thread = start_progress_thread(3);
        Sleep(round % 4);
        close_progress_window();
        ASSERT_TRUE(thread_ends(progress_thread)) << "round " << round;
        join_progress_thread();
    }
    EXPECT_EQ(nullptr, progress_window.load());
}
