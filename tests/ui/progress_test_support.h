// Helpers for driving a live progress window from the test thread: waiting
// for its thread's reactions, reading its controls, finding its message box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/wine_host.h"

constexpr DWORD REACTION_LIMIT_MS = 5000;

// Polls `done` every 10 ms until it holds or `limit_ms` have passed.
bool wait_until(const std::function<bool()> &done, DWORD limit_ms = REACTION_LIMIT_MS);

// Starts a job's window thread into progress_thread and waits until its
// window is recorded and visible; null when it did not appear in time.
HWND open_progress_window(int total_pages);

// Closes the window the way the dispatcher does and joins the thread;
// false when the thread did not end within the reaction limit.
bool close_and_join_progress_window();

bool thread_ends(HANDLE thread, DWORD limit_ms = REACTION_LIMIT_MS);

std::wstring window_text(HWND window);
HWND child_of_class(HWND parent, const wchar_t *window_class);

// The dialog (class "#32770") of `owner`'s thread that `owner` owns, e.g. a
// message box; null when there is none.
HWND owned_dialog(HWND owner);

// Clears the job-state words the window reads or writes.
void reset_progress_state();

// Directory of this test program (DOS path, no trailing backslash).
std::wstring program_directory();

// Runs `script` with the host's /bin/sh (Wine starts unix programs but gives
// no handle to wait on) and waits for it through a marker file that holds
// its exit status. Returns that status, or -1 when it did not finish in time.
int run_host_shell(const std::string &script, DWORD limit_ms);

// Runs the test `filter` of this program again, as a new Wine process that
// the host's shell starts with `environment` (e.g. "env -u DISPLAY X=1"), its
// output in <build>/logs/<log_name>. Returns its exit status, -1 on time-out.
int run_self_with_environment(const std::string &environment, const std::string &filter,
                              const std::string &log_name);
