// The printer driver's own settings dialogs, shown on the desktop outside a
// job so that the user can change the printer's defaults: the document
// properties (paper, orientation, quality), whose confirmed result becomes
// the printer's per-user default device mode, and the printer (device)
// properties, which the driver stores itself. Both are modal, have no owner
// window and block the calling thread until the user closes them.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstddef>

#include "base/protocol_codes.h"

// Both dialogs answer STATUS_OK, STATUS_INVALID, STATUS_PRINTER_NOT_OPENED,
// STATUS_BAD_NAME (no printer name), STATUS_OUT_OF_MEMORY or
// STATUS_USER_CANCELLED; the status travels to the server unchanged.

// The winspool calls and the allocator behind both dialogs. Real ones by
// default; tests count them or make the driver misbehave in ways that no
// real driver of the rig does.
struct PropertyDialogCalls {
    BOOL(WINAPI *open_printer)(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults);
    LONG(WINAPI *document_properties)
    (HWND window, HANDLE printer, LPSTR name, PDEVMODEA output, PDEVMODEA input, DWORD mode);
    BOOL(WINAPI *set_printer)(HANDLE printer, DWORD level, LPBYTE info, DWORD command);
    BOOL(WINAPI *printer_properties)(HWND window, HANDLE printer);
    BOOL(WINAPI *close_printer)(HANDLE printer);
    void *(*allocate_zeroed)(size_t size);
    void (*release)(void *buffer);
};
extern PropertyDialogCalls property_dialog_calls;

// Shows the document-properties dialog of `printer_name` (null or empty: no
// name), starting from the printer's current device mode. STATUS_OK
// when the user confirmed and the result was stored at level 9,
// STATUS_USER_CANCELLED when nothing was stored, else a failure.
int set_printer_DrvDocumentPropertySheets(const char *printer_name);

// Shows the printer-properties dialog of `printer_name`. STATUS_OK when
// the dialog ended successfully, STATUS_INVALID when the call failed.
int set_printer_DrvDevicePropertySheets(const char *printer_name);
