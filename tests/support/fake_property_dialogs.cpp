#include "support/fake_property_dialogs.h"

#include <cstdlib>

namespace {

HANDLE const FAKE_PRINTER = reinterpret_cast<HANDLE>(0x5151);

BOOL WINAPI fake_open(LPSTR, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
    if (dialog_fake.open_fails)
        return FALSE;
    dialog_fake.opened++;
    *printer = FAKE_PRINTER;
    return TRUE;
}

// Sizing, reading and prompting, told apart by the mode.
LONG WINAPI fake_document_properties(HWND, HANDLE, LPSTR, PDEVMODEA output, PDEVMODEA, DWORD mode) {
    if (mode == 0)
        return dialog_fake.size;
    if (mode == DM_OUT_BUFFER)
        return IDOK;
    dialog_fake.prompts++;
    if (dialog_fake.prompt_answer == IDOK)
        output->dmOrientation = DMORIENT_LANDSCAPE;
    return dialog_fake.prompt_answer;
}

BOOL WINAPI fake_set_printer(HANDLE, DWORD, LPBYTE, DWORD) {
    dialog_fake.stored++;
    return TRUE;
}

BOOL WINAPI fake_printer_properties(HWND, HANDLE) {
    dialog_fake.prompts++;
    SetLastError(dialog_fake.properties_error);
    return dialog_fake.properties_answer;
}

// Closing disturbs the thread's last error, as a real close may.
BOOL WINAPI fake_close(HANDLE printer) {
    dialog_fake.closed += printer == FAKE_PRINTER;
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
}

void *fake_allocate(size_t size) {
    if (dialog_fake.allocation_fails)
        return nullptr;
    dialog_fake.allocated++;
    dialog_fake.buffer = calloc(1, size);
    return dialog_fake.buffer;
}

void fake_release(void *buffer) {
    dialog_fake.released += buffer == dialog_fake.buffer;
    free(buffer);
}

} // namespace

FakeDialogDriver dialog_fake;

const PropertyDialogCalls FAKE_PROPERTY_DIALOGS = {fake_open,        fake_document_properties,
                                                   fake_set_printer, fake_printer_properties,
                                                   fake_close,       fake_allocate,
                                                   fake_release};
