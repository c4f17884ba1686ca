// The two property dialogs over stand-ins for the winspool calls and the
// allocator: the outcomes the real driver (property_dialogs_rig_test.cpp)
// cannot be made to produce, and the release of handle and buffer on every
// path.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "printer/property_dialogs.h"
#include "support/debug_capture.h"

namespace {

HANDLE const FAKE_PRINTER = reinterpret_cast<HANDLE>(0x5151);
constexpr LONG DRIVER_SIZE = sizeof(DEVMODEA) + 8;

struct FakeDriver {
    bool open_fails = false;
    LONG size = DRIVER_SIZE;
    bool allocation_fails = false;
    LONG prompt_answer = IDOK;
    BOOL properties_answer = TRUE;
    DWORD properties_error = 0;

    int opened = 0;
    int closed = 0;
    int allocated = 0;
    int released = 0;
    int prompts = 0;
    int stored = 0;
    void *buffer = nullptr;
};

FakeDriver fake;

BOOL WINAPI fake_open(LPSTR, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
    if (fake.open_fails)
        return FALSE;
    fake.opened++;
    *printer = FAKE_PRINTER;
    return TRUE;
}

// Sizing, reading and prompting, told apart by the mode.
LONG WINAPI fake_document_properties(HWND, HANDLE, LPSTR, PDEVMODEA output, PDEVMODEA, DWORD mode) {
    if (mode == 0)
        return fake.size;
    if (mode == DM_OUT_BUFFER)
        return IDOK;
    fake.prompts++;
    if (fake.prompt_answer == IDOK)
        output->dmOrientation = DMORIENT_LANDSCAPE;
    return fake.prompt_answer;
}

BOOL WINAPI fake_set_printer(HANDLE, DWORD, LPBYTE, DWORD) {
    fake.stored++;
    return TRUE;
}

BOOL WINAPI fake_printer_properties(HWND, HANDLE) {
    fake.prompts++;
    SetLastError(fake.properties_error);
    return fake.properties_answer;
}

// Closing disturbs the thread's last error, as a real close may.
BOOL WINAPI fake_close(HANDLE printer) {
    fake.closed += printer == FAKE_PRINTER;
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
}

void *fake_allocate(size_t size) {
    if (fake.allocation_fails)
        return nullptr;
    fake.allocated++;
    fake.buffer = calloc(1, size);
    return fake.buffer;
}

void fake_release(void *buffer) {
    fake.released += buffer == fake.buffer;
    free(buffer);
}

class PropertyDialogs : public testing::Test {
  protected:
    void SetUp() override {
        fake = FakeDriver();
        saved = property_dialog_calls;
        property_dialog_calls = {fake_open,        fake_document_properties,
                                 fake_set_printer, fake_printer_properties,
                                 fake_close,       fake_allocate,
                                 fake_release};
    }
    void TearDown() override { property_dialog_calls = saved; }

    // Runs a dialog routine with every class of the channel on; returns its
    // result and leaves the channel's output in `output`.
    int run(int (*routine)(const char *), const char *name) {
        int result = -1;
        output = capture_debug_output("printproxy", [&] { result = routine(name); });
        return result;
    }

    void expect_released() {
        EXPECT_EQ(fake.opened, fake.closed)
            << "opened " << fake.opened << ", closed " << fake.closed;
        EXPECT_EQ(fake.allocated, fake.released)
            << "allocated " << fake.allocated << ", released " << fake.released;
    }

    PropertyDialogCalls saved{};
    std::string output;
};

std::string line(const char *class_name, const char *function_name, const std::string &text) {
    return debug_header(class_name, function_name) + text;
}

const char DOCUMENT[] = "set_printer_DrvDocumentPropertySheets";
const char DEVICE[] = "set_printer_DrvDevicePropertySheets";

} // namespace

TEST_F(PropertyDialogs, DocumentDialogOutcomes) {
    struct Row {
        const char *name;
        bool open_fails;
        LONG size;
        bool allocation_fails;
        LONG prompt_answer;
        int expected;
        const char *class_name;
        const char *expected_line;
        int expected_stored;
    };
    const Row rows[] = {
        {"printer cannot be opened", true, DRIVER_SIZE, false, IDOK, 8, "trace",
         "open printer failed\n", 0},
        {"driver size one short of a DEVMODEA", false, 155, false, IDOK, 1, "err",
         "invalid size 155\n", 0},
        {"no memory for the record", false, DRIVER_SIZE, true, IDOK, 11, "err",
         "out of memory, 164\n", 0},
        {"user confirmed", false, DRIVER_SIZE, false, IDOK, 0, "trace", "set printer ok\n", 1},
        {"user cancelled", false, DRIVER_SIZE, false, IDCANCEL, 16, "trace",
         "user canele set printer.\n", 0},
        {"dialog failed", false, DRIVER_SIZE, false, -1, 1, "err",
         "get printer devmode info failed\n", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fake = FakeDriver();
        fake.open_fails = row.open_fails;
        fake.size = row.size;
        fake.allocation_fails = row.allocation_fails;
        fake.prompt_answer = row.prompt_answer;

        int result = run(set_printer_DrvDocumentPropertySheets, "Tavri Fake");
        EXPECT_EQ(row.expected, result) << "actual " << result << ", expected " << row.expected;
        std::string expected_line = line(row.class_name, DOCUMENT, row.expected_line);
        EXPECT_NE(std::string::npos, output.find(expected_line)) << "actual output:\n" << output;
        EXPECT_EQ(row.expected_stored, fake.stored) << "actual " << fake.stored;
        expect_released();
    }
}

TEST_F(PropertyDialogs, NoPrinterNameOpensNothing) {
    for (const char *printer_name : {static_cast<const char *>(nullptr), ""}) {
        for (const char *function_name : {DOCUMENT, DEVICE}) {
            auto routine = function_name == DOCUMENT ? set_printer_DrvDocumentPropertySheets
                                                     : set_printer_DrvDevicePropertySheets;
            int result = run(routine, printer_name);
            EXPECT_EQ(9, result) << function_name << ": actual " << result;
            EXPECT_EQ(line("err", function_name, "invalid printer name\n"), output);
        }
    }
    EXPECT_EQ(0, fake.opened + fake.allocated + fake.prompts) << "opened, allocated or prompted";
}

TEST_F(PropertyDialogs, DeviceDialogOutcomes) {
    struct Row {
        const char *name;
        bool open_fails;
        BOOL answer;
        DWORD error;
        int expected;
        const char *class_name;
        const char *expected_line; // null: no line but the trace of the name
    };
    const Row rows[] = {
        {"printer cannot be opened", true, TRUE, 0, 8, "trace", "open printer failed\n"},
        {"dialog ended", false, TRUE, 0, 0, nullptr, nullptr},
        {"dialog call failed", false, FALSE, 1234, 1, "err", "PrinterProperties error: 1234 \n"},
    };
    const char *name = "Tavri Fake";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fake = FakeDriver();
        fake.open_fails = row.open_fails;
        fake.properties_answer = row.answer;
        fake.properties_error = row.error;

        int result = run(set_printer_DrvDevicePropertySheets, name);
        EXPECT_EQ(row.expected, result) << "actual " << result << ", expected " << row.expected;
        char address[32];
        snprintf(address, sizeof(address), " %p \"Tavri Fake\"\n", static_cast<const void *>(name));
        std::string expected = line("trace", DEVICE, address);
        if (row.expected_line)
            expected += line(row.class_name, DEVICE, row.expected_line);
        EXPECT_EQ(expected, output);
        expect_released();
    }
}
