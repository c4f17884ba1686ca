// The printer's device mode for a bitmap job: fetched by printer name from
// the driver and edited with the settings that the start-print request
// selects. The edited record goes to CreateDCA as it is.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <memory>

#include "base/print_request.h"
#include "base/protocol_codes.h"

// get_devmode_by_name answers STATUS_OK, STATUS_INVALID (no usable size),
// STATUS_PRINTER_NOT_OPENED, STATUS_OUT_OF_MEMORY or STATUS_NO_Y_RESOLUTION;
// the status travels to the server unchanged.

// The winspool calls and the allocator behind get_devmode_by_name. Real
// ones by default; tests count them or make them fail.
struct DevmodeCalls {
    BOOL(WINAPI *open_printer)(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults);
    LONG(WINAPI *document_properties)
    (HWND window, HANDLE printer, LPSTR name, PDEVMODEA output, PDEVMODEA input, DWORD mode);
    BOOL(WINAPI *close_printer)(HANDLE printer);
    void *(*allocate_zeroed)(size_t size);
    void (*release)(void *buffer);
};
extern DevmodeCalls devmode_calls;

// Fetches the device mode of request->printer_name and applies the request
// to it. On STATUS_OK *out receives a buffer for free_devmode; on any other
// result nothing is handed out and nothing stays allocated or open.
int get_devmode_by_name(const PrintRequest *request, DEVMODEA **out);

// Overwrites the settings that request->fields selects; touches nothing but
// the buffer. STATUS_OK, or STATUS_NO_Y_RESOLUTION when a resolution is
// requested without its Y resolution (the buffer is then half edited).
int set_devmode(DEVMODEA *device_mode, const PrintRequest *request);

// Releases a buffer from get_devmode_by_name; null is accepted.
void free_devmode(DEVMODEA *device_mode);

struct DevmodeDeleter {
    void operator()(DEVMODEA *device_mode) const { free_devmode(device_mode); }
};
using DevmodeBuffer = std::unique_ptr<DEVMODEA, DevmodeDeleter>;
