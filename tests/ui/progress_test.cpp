// The progress window on its own thread, driven by the posting routines.
#include <gtest/gtest.h>

#include <windows.h>

#include "base/job_state.h"
#include "support/rig.h"
#include "ui/progress_window.h"

TEST(Progress, WindowFollowsStepsLastPageAndTextAndEndsWhenClosed) {
    if (!windows_can_be_created())
        GTEST_SKIP() << "no X display";
    reset_job_state();
    progress_thread = start_progress_thread(5);
    HWND window = published_progress_window();
    ASSERT_NE(nullptr, window) << "no window within the wait limit";
    auto shows = [&](const wchar_t *control_class, const wchar_t *text) {
        EXPECT_EQ(text, control_text(window, control_class, text));
    };
    shows(L"STATIC", L"打印预处理进度: 0 / 5");
    post_progress_step(2);
    post_progress_last_page();
    shows(L"STATIC", L"打印预处理进度: 2 / 5");
    shows(L"BUTTON", L"请稍候...");
    EXPECT_FALSE(IsWindowEnabled(FindWindowExW(window, nullptr, L"BUTTON", nullptr)));
    post_progress_text(L"预处理失败!");
    shows(L"STATIC", L"预处理失败!");
    shows(L"BUTTON", L"确定");
    // The title bar's close asks first; "No" leaves the job as it was.
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND box = nullptr;
    for (int i = 0; i < WAIT_LIMIT_MS / 10 && !(box = FindWindowW(L"#32770", L"提示")); ++i)
        Sleep(10);
    EXPECT_NE(nullptr, box) << "no question before the close";
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    for (int i = 0; i < WAIT_LIMIT_MS / 10 && IsWindow(box); ++i)
        Sleep(10);
    close_progress_window();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(progress_thread, WAIT_LIMIT_MS))
        << "thread still runs";
    join_progress_thread();
    EXPECT_EQ(0, user_cancel_requested.load()) << "neither a close nor a \"No\" is a cancel";

    // A close that comes before the window exists still ends the thread.
    for (int round = 0; round < 20; ++round) {
        progress_thread = start_progress_thread(3);
        Sleep(round % 4);
        close_progress_window();
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(progress_thread, WAIT_LIMIT_MS))
            << "round " << round;
        join_progress_thread();
    }
    EXPECT_EQ(nullptr, progress_window.load());
}
