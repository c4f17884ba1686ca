// The live progress window under Wine: its look, how it follows the posted
// messages, and how the user cancels with it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/job_state.h"
#include "ui/progress_test_support.h"
#include "ui/progress_window.h"

namespace {

class ProgressWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string reason;
        if (!windows_can_be_created(reason))
            GTEST_SKIP() << reason;
        reset_progress_state();
    }
    void TearDown() override {
        EXPECT_TRUE(close_and_join_progress_window()) << "the window's thread did not end";
    }

    void open(int total_pages) {
        window = open_progress_window(total_pages);
        ASSERT_NE(nullptr, window) << "no progress window within " << REACTION_LIMIT_MS << " ms";
        status = child_of_class(window, L"STATIC");
        bar = child_of_class(window, PROGRESS_CLASSW);
        button = GetDlgItem(window, 2);
        ASSERT_TRUE(status && bar && button)
            << "status " << status << ", bar " << bar << ", button " << button;
    }

    bool status_becomes(const std::wstring &expected) {
        return wait_until([&] { return window_text(status) == expected; });
    }

    // Asks for the close box's confirmation and returns its box.
    HWND close_box() {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        HWND box = nullptr;
        wait_until([&] { return (box = owned_dialog(window)) != nullptr; });
        return box;
    }

    int bar_position() { return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)); }
    int bar_upper_limit() { return static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)); }
    int bar_lower_limit() { return static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)); }

    HWND window = nullptr;
    HWND status = nullptr;
    HWND bar = nullptr;
    HWND button = nullptr;
};

struct ChildPlace {
    const char *row;
    const wchar_t *window_class;
    LONG style;
    RECT place; // in the window's client coordinates
};

RECT place_in_parent(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

std::string describe(const RECT &r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

} // namespace

TEST_F(ProgressWindowTest, OpensCentredOnTopWithItsControlsAndFirstStatus) {
    open(12);
    int screen_width = GetSystemMetrics(SM_CXSCREEN);
    int screen_height = GetSystemMetrics(SM_CYSCREEN);
    RECT expected = {(screen_width - 300) / 2, (screen_height - 145) / 2, 0, 0};
    if (screen_width == 1920 && screen_height == 1080)
        expected = {810, 467, 0, 0};
    expected.right = expected.left + 300;
    expected.bottom = expected.top + 145;
    RECT actual;
    GetWindowRect(window, &actual);
    EXPECT_TRUE(EqualRect(&actual, &expected))
        << "actual " << describe(actual) << ", expected " << describe(expected) << " on "
        << screen_width << "x" << screen_height;

    wchar_t window_class[16] = L"";
    GetClassNameW(window, window_class, 16);
    EXPECT_EQ(std::wstring(L"#32770"), window_class);
    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(0x90C00000L, style & 0x90C00000L) << std::hex << "style " << style;
    EXPECT_EQ(0, style & WS_SYSMENU) << std::hex << "style " << style;
    LONG ex_style = GetWindowLongW(window, GWL_EXSTYLE);
    EXPECT_EQ(WS_EX_TOPMOST, ex_style & WS_EX_TOPMOST) << std::hex << "ex style " << ex_style;
    EXPECT_EQ(std::wstring(L""), window_text(window));

    const ChildPlace rows[] = {
        {"status text", L"Static", 0x50000001, {20, 10, 280, 30}},
        {"progress bar", PROGRESS_CLASSW, 0x50000000, {20, 40, 280, 60}},
        {"button", L"Button", 0x50004000, {110, 70, 190, 100}},
    };
    HWND children[] = {status, bar, button};
    for (size_t i = 0; i < 3; i++) {
        const ChildPlace &row = rows[i];
        RECT actual = place_in_parent(children[i]);
        EXPECT_TRUE(EqualRect(&actual, &row.place))
            << row.row << ": actual " << describe(actual) << ", expected " << describe(row.place);
        wchar_t window_class[32] = L"";
        GetClassNameW(children[i], window_class, 32);
        EXPECT_EQ(0, lstrcmpiW(window_class, row.window_class)) << row.row;
        LONG style = GetWindowLongW(children[i], GWL_STYLE);
        EXPECT_EQ(row.style, style & row.style) << row.row << std::hex << ": style " << style;
    }
    EXPECT_EQ(2, GetDlgCtrlID(button));

    EXPECT_EQ(std::wstring(L"打印预处理进度: 0 / 12"), window_text(status));
    EXPECT_EQ(0, bar_lower_limit());
    EXPECT_EQ(12, bar_upper_limit());
    EXPECT_EQ(0, bar_position());
    EXPECT_EQ(std::wstring(L"取消"), window_text(button));
    EXPECT_TRUE(IsWindowEnabled(button));
}

TEST_F(ProgressWindowTest, TotalBeyondBarRangeKeepsLow16BitsInBar) {
    open(70000);
    EXPECT_EQ(std::wstring(L"打印预处理进度: 0 / 70000"), window_text(status));
    EXPECT_EQ(70000 & 0xFFFF, bar_upper_limit());
    post_progress_step(65537);
    EXPECT_TRUE(status_becomes(L"打印预处理进度: 65537 / 70000"))
        << "status " << window_text(status);
}

TEST_F(ProgressWindowTest, StepTextAndLastPageChangeStatusAndButton) {
    open(12);
    // Commands other than the button's leave the window open.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE + 1, 0);
    post_progress_step(5);
    EXPECT_TRUE(status_becomes(L"打印预处理进度: 5 / 12")) << "status " << window_text(status);
    EXPECT_EQ(5, bar_position());
    // A text that could not be copied only relabels the button.
    PostMessageW(window, WM_PROGRESS_TEXT, 0, 0);
    EXPECT_TRUE(wait_until([&] { return window_text(button) == L"确定"; }))
        << "button " << window_text(button);
    EXPECT_EQ(std::wstring(L"打印预处理进度: 5 / 12"), window_text(status));
    post_progress_text(L"预处理失败!");
    EXPECT_TRUE(status_becomes(L"预处理失败!")) << "status " << window_text(status);
    EXPECT_TRUE(IsWindowEnabled(button));
    post_progress_last_page();
    EXPECT_TRUE(wait_until([&] { return !IsWindowEnabled(button); })) << "button still enabled";
    EXPECT_EQ(std::wstring(L"请稍候..."), window_text(button));
    EXPECT_EQ(0, user_cancel_requested.load());
}

TEST_F(ProgressWindowTest, CloseMessageEndsThreadWithoutCancel) {
    open(12);
    HANDLE thread = progress_thread;
    close_progress_window();
    EXPECT_EQ(nullptr, progress_window.load());
    EXPECT_TRUE(thread_ends(thread));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, user_cancel_requested.load());
}

struct CancelRow {
    const char *row;
    bool after_failure_text;
    bool to_button;
    UINT message;
    WPARAM wParam;
};

TEST_F(ProgressWindowTest, ButtonCancelsWithoutAsking) {
    const CancelRow rows[] = {
        {"click on the button", false, true, BM_CLICK, 0},
        {"command id 2, double-click code", false, false, WM_COMMAND,
         MAKEWPARAM(2, BN_DOUBLECLICKED)},
        {"click on the acknowledgement", true, true, BM_CLICK, 0},
    };
    for (const CancelRow &row : rows) {
        reset_progress_state();
        open(12);
        HANDLE thread = progress_thread;
        if (row.after_failure_text)
            post_progress_text(L"预处理失败!");
        PostMessageW(row.to_button ? button : window, row.message, row.wParam, 0);
        EXPECT_TRUE(thread_ends(thread)) << row.row << ": window still open";
        EXPECT_EQ(1, user_cancel_requested.load()) << row.row;
        EXPECT_FALSE(IsWindow(window)) << row.row;
        // The handle stays recorded until the dispatcher clears it.
        EXPECT_EQ(window, progress_window.load()) << row.row;
        close_and_join_progress_window();
    }
}

TEST_F(ProgressWindowTest, CloseBoxAsksNoKeepsWindowYesCancels) {
    open(12);
    HANDLE thread = progress_thread;
    HWND box = close_box();
    ASSERT_NE(nullptr, box) << "no confirmation box";
    EXPECT_EQ(std::wstring(L"提示"), window_text(box));
    EXPECT_NE(nullptr, FindWindowExW(box, nullptr, L"STATIC", L"是否取消打印?"));
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); })) << "box still open";
    post_progress_step(3);
    EXPECT_TRUE(status_becomes(L"打印预处理进度: 3 / 12")) << "window stopped following";
    EXPECT_EQ(0, user_cancel_requested.load());

    box = close_box();
    ASSERT_NE(nullptr, box) << "no second confirmation box";
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    EXPECT_TRUE(thread_ends(thread)) << "window still open";
    EXPECT_EQ(1, user_cancel_requested.load());
}

TEST_F(ProgressWindowTest, CloseWhileBoxIsOpenEndsThread) {
    open(12);
    HANDLE thread = progress_thread;
    HWND box = close_box();
    ASSERT_NE(nullptr, box) << "no confirmation box";
    close_progress_window();
    EXPECT_TRUE(thread_ends(thread)) << "thread stuck in the confirmation box";
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(0, user_cancel_requested.load());
}
