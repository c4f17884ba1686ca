#include "printer/property_dialogs.h"

#include <cstdlib>
#include <memory>

#include "diag/debug_channel.h"
#include "printer/printer_handle.h"

namespace {

constexpr const char *DOCUMENT_SHEETS = "set_printer_DrvDocumentPropertySheets";
constexpr const char *DEVICE_SHEETS = "set_printer_DrvDevicePropertySheets";

// What a driver must report before its record can be read as a DEVMODEA.
constexpr LONG MINIMUM_DEVMODE_SIZE = sizeof(DEVMODEA);

constexpr DWORD PROMPT_MODE = DM_IN_BUFFER | DM_IN_PROMPT | DM_OUT_BUFFER;

void *allocate_zeroed(size_t size) {
    return calloc(1, size);
}

struct BufferReleaser {
    void operator()(DEVMODEA *buffer) const { property_dialog_calls.release(buffer); }
};
using DialogDevmodeBuffer = std::unique_ptr<DEVMODEA, BufferReleaser>;

bool has_name(const char *printer_name) {
    return printer_name && *printer_name;
}

// The printer, or an empty handle when it cannot be opened. A failed open
// is not an error of this program (the server hears of it as status 8), so
// it is traced only.
PrinterHandle open_named_printer(const char *function_name, const char *printer_name) {
    HANDLE opened = nullptr;
    if (!property_dialog_calls.open_printer(const_cast<LPSTR>(printer_name), &opened, nullptr)) {
        TRACE_ON(dbch_printer, function_name, "open printer failed\n");
        return PrinterHandle();
    }
    return PrinterHandle(opened, PrinterCloser{property_dialog_calls.close_printer});
}

// Stores the user's choice as the printer's per-user default. The dialog
// has already been confirmed, so a refusal here changes nothing the user
// could act on.
void store_user_default(HANDLE printer, DEVMODEA *device_mode) {
    PRINTER_INFO_9A info = {device_mode};
    property_dialog_calls.set_printer(printer, 9, reinterpret_cast<LPBYTE>(&info), 0);
    TRACE_ON(dbch_printer, DOCUMENT_SHEETS, "set printer ok\n");
}

// Runs the dialog on a buffer that holds the printer's current settings and
// acts on the way the user left it.
int prompt_and_store(HANDLE printer, LPSTR name, DEVMODEA *buffer) {
    // Should the driver fail to fill it, the dialog starts from the zeroed
    // buffer, which the driver then completes with its own defaults.
    property_dialog_calls.document_properties(nullptr, printer, name, buffer, nullptr,
                                              DM_OUT_BUFFER);
    LONG answer = property_dialog_calls.document_properties(nullptr, printer, name, buffer, buffer,
                                                            PROMPT_MODE);
    if (answer == IDOK) {
        store_user_default(printer, buffer);
        return STATUS_OK;
    }
    if (answer == IDCANCEL) {
        TRACE_ON(dbch_printer, DOCUMENT_SHEETS, "user canele set printer.\n");
        return STATUS_USER_CANCELLED;
    }
    ERR_ON(dbch_printer, DOCUMENT_SHEETS, "get printer devmode info failed\n");
    return STATUS_INVALID;
}

} // namespace

PropertyDialogCalls property_dialog_calls = {
    OpenPrinterA, DocumentPropertiesA, SetPrinterA, PrinterProperties,
    ClosePrinter, allocate_zeroed,     free};

int set_printer_DrvDocumentPropertySheets(const char *printer_name) {
    if (!has_name(printer_name)) {
        ERR_ON(dbch_printer, DOCUMENT_SHEETS, "invalid printer name\n");
        return STATUS_BAD_NAME;
    }
    TRACE_ON(dbch_printer, DOCUMENT_SHEETS, "%p %s\n", printer_name,
             quote_ansi_string(printer_name));
    PrinterHandle printer = open_named_printer(DOCUMENT_SHEETS, printer_name);
    if (!printer)
        return STATUS_PRINTER_NOT_OPENED;
    LPSTR name = const_cast<LPSTR>(printer_name);

    LONG size = property_dialog_calls.document_properties(nullptr, printer.get(), name, nullptr,
                                                          nullptr, 0);
    if (size < MINIMUM_DEVMODE_SIZE) {
        ERR_ON(dbch_printer, DOCUMENT_SHEETS, "invalid size %ld\n", static_cast<long>(size));
        return STATUS_INVALID;
    }
    DialogDevmodeBuffer buffer(
        static_cast<DEVMODEA *>(property_dialog_calls.allocate_zeroed(static_cast<size_t>(size))));
    if (!buffer) {
        ERR_ON(dbch_printer, DOCUMENT_SHEETS, "out of memory, %ld\n", static_cast<long>(size));
        return STATUS_OUT_OF_MEMORY;
    }
    return prompt_and_store(printer.get(), name, buffer.get());
}

int set_printer_DrvDevicePropertySheets(const char *printer_name) {
    if (!has_name(printer_name)) {
        ERR_ON(dbch_printer, DEVICE_SHEETS, "invalid printer name\n");
        return STATUS_BAD_NAME;
    }
    TRACE_ON(dbch_printer, DEVICE_SHEETS, " %p %s\n", printer_name,
             quote_ansi_string(printer_name));
    PrinterHandle printer = open_named_printer(DEVICE_SHEETS, printer_name);
    if (!printer)
        return STATUS_PRINTER_NOT_OPENED;
    if (property_dialog_calls.printer_properties(nullptr, printer.get()))
        return STATUS_OK;
    // Read before the printer is closed, which may set an error of its own.
    DWORD error = GetLastError();
    ERR_ON(dbch_printer, DEVICE_SHEETS, "PrinterProperties error: %ld \n",
           static_cast<long>(error));
    return STATUS_INVALID;
}
