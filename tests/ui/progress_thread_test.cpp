// The progress window's thread always ends, so that job completion can wait
// for it: whether its close comes early, its window cannot be made, or there
// is no memory for its record.
#include <gtest/gtest.h>

#include <windows.h>

#include "base/job_state.h"
#include "ui/progress_test_support.h"
#include "ui/progress_window.h"
#include "ui/progress_window_data.h"

namespace {

class ProgressThreadTest : public testing::Test {
  protected:
    void SetUp() override { reset_progress_state(); }
    void TearDown() override {
        progress_window_class = L"#32770";
        allocate_progress_window_data = saved_allocator;
        progress_join_limit_ms = 60000;
        close_and_join_progress_window();
    }
    ProgressWindowData *(*saved_allocator)() = allocate_progress_window_data;
};

ProgressWindowData *no_memory() {
    return nullptr;
}

DWORD exit_code(HANDLE thread) {
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread, &code);
    return code;
}

DWORD WINAPI wait_for_event(LPVOID event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

} // namespace

TEST_F(ProgressThreadTest, CloseBeforeWindowExistsEndsThread) {
    HANDLE thread = CreateThread(nullptr, 0, ProgressThreadProc, reinterpret_cast<LPVOID>(12),
                                 CREATE_SUSPENDED, nullptr);
    ASSERT_NE(nullptr, thread);
    progress_thread = thread;
    progress_close_requested = 0;
    close_progress_window(); // nothing recorded yet: only the request is left
    ResumeThread(thread);
    EXPECT_TRUE(thread_ends(thread)) << "thread kept its window open";
    EXPECT_EQ(nullptr, progress_window.load()) << "destroyed window left recorded";
    EXPECT_EQ(0, user_cancel_requested.load());
}

TEST_F(ProgressThreadTest, CloseRacingWindowCreationAlwaysEndsThread) {
    for (int round = 0; round < 6; round++) {
        progress_thread = start_progress_thread(3);
        ASSERT_NE(nullptr, progress_thread) << "round " << round;
        if (round % 2)
            Sleep(round * 3);
        close_progress_window();
        ASSERT_TRUE(thread_ends(progress_thread)) << "round " << round << ": thread still runs";
        join_progress_thread();
        EXPECT_EQ(nullptr, progress_window.load()) << "round " << round;
    }
}

// A window class that does not exist, then no memory for the record.
TEST_F(ProgressThreadTest, ThreadWithoutWindowOrRecordEnds) {
    for (int row = 0; row < 2; row++) {
        if (row == 0)
            progress_window_class = L"TavriNoSuchWindowClass";
        else
            allocate_progress_window_data = no_memory;
        progress_thread = start_progress_thread(12);
        ASSERT_TRUE(thread_ends(progress_thread)) << "row " << row << ": thread still runs";
        EXPECT_EQ(0u, exit_code(progress_thread)) << "row " << row;
        EXPECT_EQ(nullptr, progress_window.load()) << "row " << row;
        join_progress_thread();
        progress_window_class = L"#32770";
    }
    post_progress_step(1); // skipped: nothing is recorded
}

TEST_F(ProgressThreadTest, JoinGivesUpAfterSafetyLimit) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    progress_thread = CreateThread(nullptr, 0, wait_for_event, event, 0, nullptr);
    progress_join_limit_ms = 50;
    DWORD start = GetTickCount();
    join_progress_thread();
    DWORD waited = GetTickCount() - start;
    EXPECT_EQ(nullptr, progress_thread);
    EXPECT_LT(waited, 2000u) << "waited " << waited << " ms with a limit of 50 ms";
    SetEvent(event);
    CloseHandle(event);
}

TEST_F(ProgressThreadTest, NewJobClosesAndJoinsWindowLeftByEarlierJob) {
    std::string reason;
    if (!windows_can_be_created(reason))
        GTEST_SKIP() << reason;
    HWND earlier = open_progress_window(4);
    ASSERT_NE(nullptr, earlier);
    HANDLE earlier_thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), progress_thread, GetCurrentProcess(), &earlier_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    HWND later = open_progress_window(5);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(earlier_thread, 0)) << "earlier thread not joined";
    EXPECT_FALSE(IsWindow(earlier));
    ASSERT_NE(nullptr, later);
    EXPECT_NE(earlier, later);
    CloseHandle(earlier_thread);
}
