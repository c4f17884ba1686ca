// The entry of every Windows test program: gtest's, and a process that dies
// of an exception or an abort leaves its cause in the output rather than in
// a buffer, a capture's file or a debugger's dialog that nobody closes.
#include <windows.h>

#include <csignal>
#include <cstdio>

#include <gtest/gtest.h>

#include "support/rig.h"

namespace {

LONG WINAPI report_unhandled(EXCEPTION_POINTERS *exception) {
    char reason[160];
    snprintf(reason, sizeof(reason), "unhandled exception %08lx at %p on thread %04lx",
             static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
             exception->ExceptionRecord->ExceptionAddress,
             static_cast<unsigned long>(GetCurrentThreadId()));
    die(reason);
}

void report_abort(int) {
    die("abort (an uncaught C++ exception or a failed runtime check)");
}

} // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter(report_unhandled);
    signal(SIGABRT, report_abort);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
