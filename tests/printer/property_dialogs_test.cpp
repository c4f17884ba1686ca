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
#include "support/fake_property_dialogs.h"

namespace {

class PropertyDialogs : public testing::Test {
  protected:
    void SetUp() override {
        dialog_fake = FakeDialogDriver();
        saved = property_dialog_calls;
        property_dialog_calls = FAKE_PROPERTY_DIALOGS;
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
        EXPECT_EQ(dialog_fake.opened, dialog_fake.closed)
            << "opened " << dialog_fake.opened << ", closed " << dialog_fake.closed;
        EXPECT_EQ(dialog_fake.allocated, dialog_fake.released)
            << "allocated " << dialog_fake.allocated << ", released " << dialog_fake.released;
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
        dialog_fake = FakeDialogDriver();
        dialog_fake.open_fails = row.open_fails;
        dialog_fake.size = row.size;
        dialog_fake.allocation_fails = row.allocation_fails;
        dialog_fake.prompt_answer = row.prompt_answer;

        int result = run(set_printer_DrvDocumentPropertySheets, "Tavri Fake");
        EXPECT_EQ(row.expected, result) << "actual " << result << ", expected " << row.expected;
        std::string expected_line = line(row.class_name, DOCUMENT, row.expected_line);
        EXPECT_NE(std::string::npos, output.find(expected_line)) << "actual output:\n" << output;
        EXPECT_EQ(row.expected_stored, dialog_fake.stored) << "actual " << dialog_fake.stored;
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
    EXPECT_EQ(0, dialog_fake.opened + dialog_fake.allocated + dialog_fake.prompts)
        << "opened, allocated or prompted";
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
        dialog_fake = FakeDialogDriver();
        dialog_fake.open_fails = row.open_fails;
        dialog_fake.properties_answer = row.answer;
        dialog_fake.properties_error = row.error;

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
