// The property dialogs with the rig's real printer (Wine's PostScript driver
// over the private CUPS queue named by PROXY_TEST_PRINTER) on the X display:
// a helper thread plays the user in the modal dialog, and what was stored is
// read back through winspool. The printer's stored default is put back
// afterwards, since every later test prints with it.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "printer/property_dialogs.h"
#include "support/debug_capture.h"
#include "support/wine_host.h"

namespace {

constexpr DWORD DIALOG_LIMIT_MS = 10000;
const char PRINTERS_KEY[] = "System\\CurrentControlSet\\Control\\Print\\Printers\\";
const char DEFAULT_VALUE[] = "Default DevMode";

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

// Wine keeps the level-9 default of a printer as a value of its key; empty
// when there is none.
std::vector<BYTE> read_stored_default(const std::string &printer) {
    std::string key = PRINTERS_KEY + printer;
    DWORD size = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), DEFAULT_VALUE, RRF_RT_REG_BINARY, nullptr,
                     nullptr, &size))
        return {};
    std::vector<BYTE> data(size);
    RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), DEFAULT_VALUE, RRF_RT_REG_BINARY, nullptr,
                 data.data(), &size);
    return data;
}

void write_stored_default(const std::string &printer, const std::vector<BYTE> &data) {
    std::string key = PRINTERS_KEY + printer;
    if (data.empty())
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), DEFAULT_VALUE);
    else
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), DEFAULT_VALUE, REG_BINARY, data.data(),
                        DWORD(data.size()));
}

// dmOrientation of the printer's level-9 default as winspool reports it
// (`stored`), or of the device mode that a new document, and the dialog,
// would start from; -1 when it cannot be read. Wine's driver keeps the
// latter per process: a default stored at level 9 by the same process is not
// seen there, one confirmed in the dialog is.
int orientation(const std::string &printer, bool stored) {
    HANDLE raw = nullptr;
    LPSTR name = const_cast<LPSTR>(printer.c_str());
    if (!OpenPrinterA(name, &raw, nullptr))
        return -1;
    PrinterHandle handle(raw);
    DWORD size = 0;
    if (stored)
        GetPrinterA(raw, 9, nullptr, 0, &size);
    else
        size = DWORD(std::max(0L, DocumentPropertiesA(nullptr, raw, name, nullptr, nullptr, 0)));
    std::vector<BYTE> buffer(std::max<DWORD>(size, sizeof(DEVMODEA)));
    auto *device_mode = reinterpret_cast<DEVMODEA *>(buffer.data());
    if (stored && GetPrinterA(raw, 9, buffer.data(), size, &size))
        device_mode = reinterpret_cast<PRINTER_INFO_9A *>(buffer.data())->pDevMode;
    else if (stored || size < sizeof(DEVMODEA) ||
             DocumentPropertiesA(nullptr, raw, name, device_mode, nullptr, DM_OUT_BUFFER) != IDOK)
        return -1;
    return device_mode ? device_mode->dmOrientation : -1;
}

int other_orientation(int orientation) {
    return orientation == DMORIENT_PORTRAIT ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
}

// The user of the dialog: waits for the sheet that the test thread shows,
// turns the orientation to the one the record does not have yet (the
// unchecked radio button; the texts depend on the locale), then presses OK
// or Cancel.
struct DialogUser {
    DWORD dialog_thread = 0;
    bool confirm = false;
    bool sheet_found = false;
    bool orientation_clicked = false;
};

BOOL CALLBACK find_sheet(HWND window, LPARAM found) {
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if (wcscmp(class_name, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// A visible radio button of the sheet in the wanted check state.
struct RadioSearch {
    bool checked;
    HWND found;
};

BOOL CALLBACK find_radio(HWND child, LPARAM parameter) {
    auto *search = reinterpret_cast<RadioSearch *>(parameter);
    wchar_t class_name[16] = {};
    GetClassNameW(child, class_name, 16);
    LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    bool radio = style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON;
    if (_wcsicmp(class_name, L"Button") != 0 || !radio || !IsWindowVisible(child) ||
        (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) != search->checked)
        return TRUE;
    search->found = child;
    return FALSE;
}

HWND radio_of(HWND sheet, bool checked) {
    RadioSearch search = {checked, nullptr};
    EnumChildWindows(sheet, find_radio, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The sheet once its page shows the record's settings (one orientation is
// checked); null when none appeared in time.
HWND wait_for_sheet(DWORD dialog_thread) {
    for (DWORD waited = 0; waited < DIALOG_LIMIT_MS; waited += 20) {
        Sleep(20);
        HWND sheet = nullptr;
        EnumThreadWindows(dialog_thread, find_sheet, reinterpret_cast<LPARAM>(&sheet));
        if (sheet && radio_of(sheet, true))
            return sheet;
    }
    return nullptr;
}

DWORD WINAPI use_dialog(void *parameter) {
    auto *user = static_cast<DialogUser *>(parameter);
    HWND sheet = wait_for_sheet(user->dialog_thread);
    if (!sheet)
        return 1;
    user->sheet_found = true;
    HWND radio = radio_of(sheet, false);
    if (radio) {
        SendMessageW(radio, BM_CLICK, 0, 0);
        user->orientation_clicked = SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // Pressed again until the sheet is gone, so that the test thread never
    // stays in the modal loop.
    HWND button = GetDlgItem(sheet, user->confirm ? IDOK : IDCANCEL);
    for (DWORD waited = 0; IsWindow(sheet) && waited < DIALOG_LIMIT_MS; waited += 200) {
        PostMessageW(button, BM_CLICK, 0, 0);
        Sleep(200);
    }
    return 0;
}

class RealPropertyDialogs : public testing::Test {
  protected:
    void SetUp() override {
        const char *name = getenv("PROXY_TEST_PRINTER");
        if (!name || !*name)
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
        std::string reason;
        if (!windows_can_be_created(reason))
            GTEST_SKIP() << reason;
        printer = name;
        saved = read_stored_default(printer);
        restore = true;
    }
    void TearDown() override {
        if (restore)
            write_stored_default(printer, saved);
    }

    // Shows the document dialog with a user who changes the orientation and
    // then confirms or cancels.
    int run_document_dialog(bool confirm) {
        DialogUser user;
        user.dialog_thread = GetCurrentThreadId();
        user.confirm = confirm;
        HANDLE thread = CreateThread(nullptr, 0, use_dialog, &user, 0, nullptr);
        EXPECT_NE(nullptr, thread);
        int result = -1;
        output = capture_debug_output("trace+printproxy", [&] {
            result = set_printer_DrvDocumentPropertySheets(printer.c_str());
        });
        if (thread) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, DIALOG_LIMIT_MS));
            CloseHandle(thread);
        }
        EXPECT_TRUE(user.sheet_found) << "no dialog appeared within " << DIALOG_LIMIT_MS << " ms";
        EXPECT_TRUE(user.orientation_clicked) << "the other orientation could not be chosen";
        return result;
    }

    std::string printer;
    std::vector<BYTE> saved;
    bool restore = false;
    std::string output;
};

const char DOCUMENT[] = "set_printer_DrvDocumentPropertySheets";

} // namespace

// Turned to the other orientation and back, so that the driver leaves this
// test with the settings it came with.
TEST_F(RealPropertyDialogs, ConfirmedDialogBecomesTheUserDefault) {
    int start = orientation(printer, false);
    ASSERT_TRUE(start == DMORIENT_PORTRAIT || start == DMORIENT_LANDSCAPE) << "actual " << start;

    for (int expected : {other_orientation(start), start}) {
        SCOPED_TRACE(expected == DMORIENT_PORTRAIT ? "to portrait" : "to landscape");
        int result = run_document_dialog(true);

        EXPECT_EQ(0, result) << "actual " << result << ", expected 0";
        std::string line = debug_header("trace", DOCUMENT) + "set printer ok\n";
        EXPECT_NE(std::string::npos, output.find(line)) << "actual output:\n" << output;
        int stored = orientation(printer, true);
        EXPECT_EQ(expected, stored) << "level 9: actual " << stored << ", expected " << expected;
        int driver = orientation(printer, false);
        EXPECT_EQ(expected, driver) << "driver: actual " << driver << ", expected " << expected;
    }
}

// Wine 8's dialog answers IDOK also when the user presses Cancel, handing
// back the settings it started from: these are stored again, unchanged. A
// platform that answers IDCANCEL stores nothing.
TEST_F(RealPropertyDialogs, CancelledDialogKeepsTheDefault) {
    int start = orientation(printer, false);

    int result = run_document_dialog(false);

    EXPECT_TRUE(result == 16 || result == 0) << "actual " << result << ", expected 16 or 0";
    const char *line = result == 16 ? "user canele set printer.\n" : "set printer ok\n";
    std::string expected = debug_header("trace", DOCUMENT) + line;
    EXPECT_NE(std::string::npos, output.find(expected)) << "actual output:\n" << output;
    if (result == 0) {
        int stored = orientation(printer, true);
        EXPECT_EQ(start, stored) << "level 9: actual " << stored << ", expected " << start;
    }
    int driver = orientation(printer, false);
    EXPECT_EQ(start, driver) << "driver: actual " << driver << ", expected " << start;
}
