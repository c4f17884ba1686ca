// Start-up of the program: port from the command line, spooler, sockets,
// one session. wWinMain only hands its command-line tail over.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winsvc.h>

#include "base/protocol_codes.h"

// The platform calls of start-up, replaceable so that tests can make the
// service manager or the socket library fail; the real calls by default.
struct StartupCalls {
    SC_HANDLE(WINAPI *open_sc_manager)(LPCWSTR, LPCWSTR, DWORD);
    SC_HANDLE(WINAPI *open_service)(SC_HANDLE, LPCWSTR, DWORD);
    BOOL(WINAPI *query_service_status)(SC_HANDLE, LPSERVICE_STATUS);
    BOOL(WINAPI *start_service)(SC_HANDLE, DWORD, LPCWSTR *);
    BOOL(WINAPI *close_service_handle)(SC_HANDLE);
    void(WINAPI *sleep)(DWORD);
    int(WINAPI *wsa_startup)(WORD, LPWSADATA);
    int (*main_loop)(int port);
};
extern StartupCalls startup_calls;

// Everything wWinMain does; returns the process exit code.
int run_program(const wchar_t *command_line);
