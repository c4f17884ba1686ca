// What the progress window's thread and its window procedure share: the
// record attached to the window, the dialog class's own procedure and the
// texts shown to the user.
#pragma once

#include <windows.h>

// Owned by the window's thread; attached as GWLP_USERDATA, freed on WM_DESTROY.
struct ProgressWindowData {
    HWND window;
    HWND progress_bar;
    HWND status_text;
    HWND button;
    int total_pages;
};

constexpr int PROGRESS_BUTTON_ID = 2;
constexpr int PROGRESS_STATUS_SIZE = 256;

inline constexpr wchar_t PROGRESS_STATUS_FORMAT[] = L"打印预处理进度: %d / %d";
inline constexpr wchar_t PROGRESS_FIRST_STATUS_FORMAT[] = L"打印预处理进度: 0 / %d";
inline constexpr wchar_t PROGRESS_CANCEL_LABEL[] = L"取消";
inline constexpr wchar_t PROGRESS_DONE_LABEL[] = L"确定";
inline constexpr wchar_t PROGRESS_WAIT_LABEL[] = L"请稍候...";
inline constexpr wchar_t PROGRESS_CONFIRM_TEXT[] = L"是否取消打印?";
inline constexpr wchar_t PROGRESS_CONFIRM_CAPTION[] = L"提示";

// The "#32770" dialog class's procedure, replaced by ProgressWndProc.
extern WNDPROC original_window_proc;
