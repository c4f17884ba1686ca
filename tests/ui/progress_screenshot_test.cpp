// End to end on the X display: the window as the user sees it, kept as a
// picture in <build>/artifacts/progress_window.png for a person to look at
// (the Chinese texts need a CJK font, e.g. fonts-wqy-microhei, and read best
// with LANG=zh_CN.UTF-8).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/job_state.h"
#include "ui/progress_test_support.h"
#include "ui/progress_window.h"

namespace {

constexpr int MARGIN = 10;

// import's geometry of the window and a margin around it.
std::string crop_geometry(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return std::to_string(rect.right - rect.left + 2 * MARGIN) + "x" +
           std::to_string(rect.bottom - rect.top + 2 * MARGIN) + "+" +
           std::to_string(rect.left - MARGIN) + "+" + std::to_string(rect.top - MARGIN);
}

} // namespace

TEST(ProgressScreenshot, ShowsStatusBarAndButtonOnScreen) {
    std::string reason;
    if (!windows_can_be_created(reason))
        GTEST_SKIP() << reason;
    if (run_host_shell("command -v import >/dev/null", 10000) != 0)
        GTEST_SKIP() << "ImageMagick's import is not installed on the host";
    reset_progress_state();
    HWND window = open_progress_window(12);
    ASSERT_NE(nullptr, window);
    post_progress_step(5);
    HWND status = child_of_class(window, L"STATIC");
    EXPECT_TRUE(wait_until([&] { return window_text(status) == L"打印预处理进度: 5 / 12"; }));

    std::wstring directory = program_directory() + L"\\artifacts";
    CreateDirectoryW(directory.c_str(), nullptr);
    std::wstring picture = directory + L"\\progress_window.png";
    DeleteFileW(picture.c_str());
    std::string script = "import -display \\\"$DISPLAY\\\" -window root -crop " +
                         crop_geometry(window) + " +repage '" + unix_path(directory) +
                         "/progress_window.png'";
    int status_code = run_host_shell(script, 30000);
    EXPECT_TRUE(close_and_join_progress_window());

    EXPECT_EQ(0, status_code) << "import's exit status (-1: not finished in 30 s)";
    EXPECT_GT(file_contents(picture).size(), 100u) << "no picture in " << unix_path(picture);
    const char *lang = getenv("LANG");
    printf("picture %s taken with LANG=%s\n", unix_path(picture).c_str(), lang ? lang : "");
}

// The picture that is kept is the one taken in a Chinese locale, in which
// Wine finds a font for the texts.
TEST(ProgressScreenshot, RetakenInChineseLocale) {
    std::string reason;
    if (!windows_can_be_created(reason))
        GTEST_SKIP() << reason;
    const char *lang = getenv("LANG");
    if (lang && strncmp(lang, "zh_CN", 5) == 0)
        GTEST_SKIP() << "already taken in " << lang;
    if (run_host_shell("locale -a | grep -qi '^zh_CN.utf-\\?8$'", 10000) != 0)
        GTEST_SKIP() << "the host has no zh_CN.UTF-8 locale";
    int status = run_self_with_environment("env LANG=zh_CN.UTF-8",
                                           "ProgressScreenshot.ShowsStatusBarAndButtonOnScreen",
                                           "progress_screenshot.log");
    EXPECT_EQ(0, status) << "child's exit status (-1: not finished in 60 s), output in "
                            "logs/progress_screenshot.log";
}
