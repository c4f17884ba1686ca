// Without an X display the window cannot be created at all; the thread must
// still end. Runs directly where there is no display, and where there is
// one, in a child copy of this program started without DISPLAY (Wine hands
// a child the unix environment of its parent, so the child is started
// through the host's shell).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/job_state.h"
#include "ui/progress_test_support.h"
#include "ui/progress_window.h"

TEST(ProgressWithoutDisplay, ThreadEndsWithoutWindow) {
    std::string reason;
    if (windows_can_be_created(reason)) {
        if (getenv("PROGRESS_CHILD_WITHOUT_DISPLAY"))
            FAIL() << "windows can still be created without DISPLAY";
        GTEST_SKIP() << "a display is reachable: covered by ProgressWithoutDisplay.InChildProcess";
    }
    reset_progress_state();
    progress_thread = start_progress_thread(12);
    ASSERT_NE(nullptr, progress_thread);
    EXPECT_TRUE(thread_ends(progress_thread)) << "thread still runs without a window";
    join_progress_thread();
    EXPECT_EQ(nullptr, progress_window.load());
}

TEST(ProgressWithoutDisplay, InChildProcess) {
    std::string reason;
    if (!windows_can_be_created(reason))
        GTEST_SKIP() << "no display here: ProgressWithoutDisplay.ThreadEndsWithoutWindow ran";
    int status = run_self_with_environment("env -u DISPLAY PROGRESS_CHILD_WITHOUT_DISPLAY=1",
                                           "ProgressWithoutDisplay.ThreadEndsWithoutWindow",
                                           "progress_without_display.log");
    EXPECT_EQ(0, status) << "child's exit status (-1: not finished in 60 s), output in "
                            "logs/progress_without_display.log";
}
