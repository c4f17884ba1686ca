// The platform call behind the shutdown action. Tests put a recorder in its
// place, so that no test ends the Wine session it runs in.
#pragma once

#include <windows.h>

extern BOOL(WINAPI *request_session_end)(UINT flags, DWORD reason);
