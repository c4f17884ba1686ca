#include "ui/progress_test_support.h"

#include <cstdio>
#include <string>

#include "base/job_state.h"
#include "ui/progress_window.h"

bool wait_until(const std::function<bool()> &done, DWORD limit_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limit_ms)
            return false;
        Sleep(10);
    }
    return true;
}

bool thread_ends(HANDLE thread, DWORD limit_ms) {
    return WaitForSingleObject(thread, limit_ms) == WAIT_OBJECT_0;
}

HWND open_progress_window(int total_pages) {
    progress_thread = start_progress_thread(total_pages);
    HWND window = nullptr;
    wait_until([&] {
        window = progress_window.load();
        return window && IsWindowVisible(window);
    });
    return window;
}

bool close_and_join_progress_window() {
    close_progress_window();
    if (!progress_thread)
        return true;
    bool ended = thread_ends(progress_thread);
    join_progress_thread();
    return ended;
}

std::wstring window_text(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

HWND child_of_class(HWND parent, const wchar_t *window_class) {
    return FindWindowExW(parent, nullptr, window_class, nullptr);
}

namespace {

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK match_owned_dialog(HWND window, LPARAM search_parameter) {
    auto *search = reinterpret_cast<OwnedSearch *>(search_parameter);
    wchar_t window_class[16] = L"";
    GetClassNameW(window, window_class, 16);
    if (GetWindow(window, GW_OWNER) == search->owner && wcscmp(window_class, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND owned_dialog(HWND owner) {
    OwnedSearch search = {owner, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), match_owned_dialog,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void reset_progress_state() {
    progress_window = nullptr;
    progress_thread = nullptr;
    user_cancel_requested = 0;
}

std::wstring program_directory() {
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring directory = program;
    return directory.substr(0, directory.find_last_of(L'\\'));
}

int run_host_shell(const std::string &script, DWORD limit_ms) {
    wchar_t marker_dos[MAX_PATH];
    GetTempFileNameW(program_directory().c_str(), L"sh", 0, marker_dos);
    DeleteFileW(marker_dos);
    std::string marker = unix_path(marker_dos);
    if (marker.empty())
        return -1;
    std::string line = "/bin/sh -c \"(" + script + "); echo $? > '" + marker + ".tmp'; mv '" +
                       marker + ".tmp' '" + marker + "'\"";
    std::wstring command(line.begin(), line.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION shell = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &shell))
        return -1;
    // Handles of a unix process are placeholders: nothing to wait on.
    if (shell.hThread)
        CloseHandle(shell.hThread);
    if (shell.hProcess)
        CloseHandle(shell.hProcess);
    if (!wait_until([&] { return GetFileAttributesW(marker_dos) != INVALID_FILE_ATTRIBUTES; },
                    limit_ms))
        return -1;
    int status = -1;
    FILE *file = _wfopen(marker_dos, L"r");
    if (file) {
        if (fscanf(file, "%d", &status) != 1)
            status = -1;
        fclose(file);
    }
    DeleteFileW(marker_dos);
    return status;
}

int run_self_with_environment(const std::string &environment, const std::string &filter,
                              const std::string &log_name) {
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring log_directory = program_directory() + L"\\logs";
    CreateDirectoryW(log_directory.c_str(), nullptr);
    std::string script = environment + " ${WINE:-wine} '" + unix_path(program) +
                         "' --gtest_filter=" + filter + " > '" + unix_path(log_directory) + "/" +
                         log_name + "' 2>&1";
    return run_host_shell(script, 60000);
}
