// The device mode of a job written to the debug channel for diagnosis: header
// fields, the dmFields bits by name, and the printing fields. Trace class
// only, so nothing is printed or formatted with default settings.
#pragma once

#include <windows.h>

// Reads the fixed 156-byte part only.
void dump_devmode(const DEVMODEA *device_mode);

// The named bits of one dmFields value, then any unnamed rest in hex, on one
// line under one header: each piece is its own message.
void dump_fields(DWORD fields);
