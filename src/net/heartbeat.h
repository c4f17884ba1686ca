// The heartbeat: while a job is active, a packet every period carrying the
// job's id, so the server knows the job is alive.
#pragma once

#include <windows.h>

extern HANDLE heartbeat_thread;
extern HANDLE heartbeat_event;

extern const wchar_t HEARTBEAT_EVENT_NAME[];

// Arms a heartbeat for the job just accepted; a timer left from an earlier
// job is ended first, so there is never more than one.
void set_heartbeat_timer();

// Marks the job idle and ends the heartbeat thread, which sends one last
// heartbeat as it goes.
void stop_heartbeat_timer();

DWORD WINAPI HeartbeatThreadProc(LPVOID event);
int TimerLoop(HANDLE event);
