#include "support/rig.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include <gtest/gtest.h>

#include "base/job_state.h"
#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"

bool windows_can_be_created() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
    return probe && DestroyWindow(probe);
}

HWND published_progress_window() {
    HWND window = nullptr;
    if (!windows_can_be_created())
        return nullptr;
    for (int i = 0; i < WAIT_LIMIT_MS / 10 && !(window = progress_window.load()); ++i)
        Sleep(10);
    return window;
}

std::wstring control_text(HWND window, const wchar_t *control_class, const wchar_t *expected) {
    wchar_t text[128] = L"";
    for (int i = 0; i < WAIT_LIMIT_MS / 10; ++i, Sleep(10)) {
        GetWindowTextW(FindWindowExW(window, nullptr, control_class, nullptr), text, 128);
        if (wcscmp(text, expected) == 0)
            break;
    }
    return text;
}

namespace {

// While output is captured: the process's own standard error, and the file
// that stands in for it.
int real_stderr = -1;
FILE *capture_sink;

// Standard error is a text stream: read back in text mode, its CR LF line
// ends are single line feeds again.
std::string read_back(FILE *sink) {
    std::string text;
    rewind(sink);
    _setmode(_fileno(sink), _O_TEXT);
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), sink)) > 0;)
        text.append(chunk, n);
    return text;
}

// Unresolved again, so that the next message of each class asks the
// fallbacks about the new configuration.
void reconfigure(const char *pxq) {
    _putenv_s("PXQ", pxq ? pxq : "");
    fallback_reset_configuration();
    dbch_printer.flags = dbch_printproxy.flags = 0xFF;
}

} // namespace

// What a capture holds would die with the process: it goes to the real
// standard error first, then the reason.
void die(const char *reason) {
    fflush(stderr);
    if (real_stderr >= 0) {
        _dup2(real_stderr, _fileno(stderr));
        fprintf(stderr, "--- captured debug output so far:\n%s---\n",
                read_back(capture_sink).c_str());
    }
    fprintf(stderr, "FATAL: %s\n", reason);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    abort();
}

std::string capture_debug_output(const char *pxq, const std::function<void()> &action) {
    debug_use_fallback_primitives();
    reconfigure(pxq);
    FILE *sink = tmpfile();
    if (!sink)
        return "(no temporary file)";
    fflush(stderr);
    real_stderr = _dup(_fileno(stderr));
    capture_sink = sink;
    _dup2(_fileno(sink), _fileno(stderr));
    action();
    fflush(stderr);
    _dup2(real_stderr, _fileno(stderr));
    _close(real_stderr);
    real_stderr = -1;
    reconfigure(nullptr);
    std::string text = read_back(sink);
    fclose(sink);
    return text;
}

// The entry of every Windows test program: a process that dies of an
// exception or an abort leaves its cause in the output rather than in a
// buffer, a capture's file or a debugger's dialog that nobody closes.
int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS *exception) -> LONG {
        char reason[160];
        snprintf(reason, sizeof(reason), "unhandled exception %08lx at %p on thread %04lx",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                 exception->ExceptionRecord->ExceptionAddress,
                 static_cast<unsigned long>(GetCurrentThreadId()));
        die(reason);
    });
    signal(SIGABRT,
           [](int) { die("abort (an uncaught C++ exception or a failed runtime check)"); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
