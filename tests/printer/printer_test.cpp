// The device mode built from a request, and the driver's dialogs, over
// stand-ins for winspool and the allocator: outcomes that no driver of the
// rig produces, and the printer handle and buffer released on every path.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>

#include "printer/devmode.h"
#include "printer/property_dialogs.h"
#include "support/rig.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

HANDLE const FAKE_PRINTER = reinterpret_cast<HANDLE>(0x5150);

struct Fake {
    bool open_fails = false;
    bool allocation_fails = false;
    LONG size = sizeof(DEVMODEA) + 20;
    LONG prompt_answer = IDOK;
    BOOL properties_answer = TRUE;
    int opened = 0, closed = 0, allocated = 0, released = 0, stored = 0;
} fake;

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
    if (mode == DM_OUT_BUFFER) {
        output->dmFields = DM_COPIES | DM_COLOR;
        output->dmCopies = 4;
        output->dmColor = DMCOLOR_COLOR;
        return IDOK;
    }
    return fake.prompt_answer;
}

BOOL WINAPI fake_set_printer(HANDLE, DWORD level, LPBYTE, DWORD) {
    fake.stored += level == 9;
    return TRUE;
}

BOOL WINAPI fake_printer_properties(HWND, HANDLE) {
    SetLastError(1234);
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
    return calloc(1, size);
}

void fake_release(void *buffer) {
    fake.released++;
    free(buffer);
}

class Printer : public ::testing::Test {
  protected:
    void SetUp() override {
        devmode_calls = {fake_open, fake_document_properties, fake_close, fake_allocate,
                         fake_release};
        property_dialog_calls = {fake_open,        fake_document_properties,
                                 fake_set_printer, fake_printer_properties,
                                 fake_close,       fake_allocate,
                                 fake_release};
    }
    void TearDown() override {
        devmode_calls = saved_devmode;
        property_dialog_calls = saved_dialogs;
    }
    void expect_released() {
        EXPECT_EQ(fake.opened, fake.closed) << "printers opened and closed";
        EXPECT_EQ(fake.allocated, fake.released) << "buffers allocated and released";
    }
    DevmodeCalls saved_devmode = devmode_calls;
    PropertyDialogCalls saved_dialogs = property_dialog_calls;
};

} // namespace

TEST(SetDevmode, AppliesExactlyTheSelectedSettings) {
    const struct {
        const char *name;
        PrintRequest request;
        std::function<void(DEVMODEA &)> expect; // the record as it must end up
    } rows[] = {
        {"nothing selected: the driver's copies reset to 1",
         {},
         [](DEVMODEA &dm) { dm.dmCopies = 1; }},
        {"copies alone: collated",
         {.fields = FIELD_COPIES, .copies = 0x10003},
         [](DEVMODEA &dm) { dm.dmCopies = 3, dm.dmCollate = 1; }},
        {"copies and collate 0",
         {.fields = FIELD_COPIES | FIELD_COLLATE, .collate = 0, .copies = 2},
         [](DEVMODEA &dm) { dm.dmCopies = 2, dm.dmCollate = 0, dm.dmFields |= DM_COLLATE; }},
        {"duplex and source",
         {.fields = FIELD_DUPLEX | FIELD_PAPER_SOURCE,
          .duplex = DMDUP_VERTICAL,
          .paper_source = 15},
         [](DEVMODEA &dm) {
             dm.dmCopies = 1, dm.dmDuplex = DMDUP_VERTICAL, dm.dmDefaultSource = 15;
             dm.dmFields |= DM_DUPLEX | DM_DEFAULTSOURCE;
         }},
        {"612 x 792 points is Letter",
         {.fields = FIELD_PAPER_SIZE, .paper_size = (612u << 16) | 792},
         [](DEVMODEA &dm) {
             dm.dmCopies = 1, dm.dmPaperSize = DMPAPER_LETTER, dm.dmFields |= DM_PAPERSIZE;
         }},
        {"596 x 842 points has no code",
         {.fields = FIELD_PAPER_SIZE, .paper_size = (596u << 16) | 842},
         [](DEVMODEA &dm) {
             dm.dmCopies = 1, dm.dmPaperSize = 0, dm.dmPaperLength = 2972, dm.dmPaperWidth = 2103;
             dm.dmFields |= DM_PAPERLENGTH | DM_PAPERWIDTH;
         }},
        {"quality 600 with its Y resolution",
         {.fields = FIELD_PRINT_QUALITY | FIELD_Y_RESOLUTION,
          .print_quality = 600,
          .y_resolution = 1200},
         [](DEVMODEA &dm) {
             dm.dmCopies = 1, dm.dmPrintQuality = 600, dm.dmYResolution = 1200;
             dm.dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
         }},
        {"draft quality needs no Y resolution",
         {.fields = FIELD_PRINT_QUALITY | FIELD_Y_RESOLUTION,
          .print_quality = DMRES_DRAFT,
          .y_resolution = 9},
         [](DEVMODEA &dm) {
             dm.dmCopies = 1, dm.dmPrintQuality = DMRES_DRAFT, dm.dmFields |= DM_PRINTQUALITY;
         }},
        {"monochrome",
         {.fields = FIELD_COLOR, .color = DMCOLOR_MONOCHROME},
         [](DEVMODEA &dm) { dm.dmCopies = 1, dm.dmColor = DMCOLOR_MONOCHROME; }},
        {"colour 3 leaves the driver's",
         {.fields = FIELD_COLOR, .color = 3},
         [](DEVMODEA &dm) { dm.dmCopies = 1; }},
    };
    for (const auto &row : rows) {
        DEVMODEA actual = {};
        actual.dmFields = DM_COPIES | DM_COLOR;
        actual.dmCopies = 5;
        actual.dmColor = DMCOLOR_COLOR;
        DEVMODEA expected = actual;
        row.expect(expected);
        EXPECT_EQ(DEVMODE_OK, set_devmode(&actual, &row.request)) << row.name;
        EXPECT_EQ(0, memcmp(&expected, &actual, sizeof(DEVMODEA))) << row.name;
    }
    PrintRequest no_y = {.fields = FIELD_PRINT_QUALITY, .print_quality = 0};
    DEVMODEA dm = {};
    EXPECT_EQ(DEVMODE_NO_Y_RESOLUTION, set_devmode(&dm, &no_y)) << "quality 0 is a resolution";
}

TEST_F(Printer, DeviceModeFailuresReleaseWhatWasObtained) {
    const struct {
        const char *name;
        std::function<void(PrintRequest &)> setup;
        int result;
    } rows[] = {
        {"built", [](PrintRequest &) {}, DEVMODE_OK},
        {"printer cannot be opened", [](PrintRequest &) { fake.open_fails = true; },
         DEVMODE_PRINTER_NOT_OPENED},
        {"name without its NUL", [](PrintRequest &r) { memset(r.printer_name, 'P', 128); },
         DEVMODE_PRINTER_NOT_OPENED},
        {"size one short of the fixed part",
         [](PrintRequest &) { fake.size = sizeof(DEVMODEA) - 1; }, DEVMODE_NO_SIZE},
        {"out of memory", [](PrintRequest &) { fake.allocation_fails = true; },
         DEVMODE_OUT_OF_MEMORY},
        {"quality without Y resolution",
         [](PrintRequest &r) { r.fields = FIELD_PRINT_QUALITY, r.print_quality = 600; },
         DEVMODE_NO_Y_RESOLUTION},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        fake = Fake();
        PrintRequest request = {};
        strcpy(request.printer_name, "Fake");
        row.setup(request);
        DEVMODEA *built = nullptr;
        EXPECT_EQ(row.result, get_devmode_by_name(&request, &built));
        EXPECT_EQ(row.result == DEVMODE_OK, built != nullptr);
        if (built) {
            EXPECT_EQ(1, built->dmCopies) << "the driver's record, edited";
            EXPECT_EQ(0, fake.released) << "the buffer is the caller's";
            free_devmode(built);
        }
        expect_released();
    }
}

TEST_F(Printer, DialogOutcomesReleaseWhatWasObtained) {
    auto document = set_printer_DrvDocumentPropertySheets;
    auto device = set_printer_DrvDevicePropertySheets;
    const struct {
        const char *name;
        int (*dialog)(const char *);
        const char *printer;
        std::function<void()> setup;
        int result, stored;
        const char *line;
    } rows[] = {
        {"no name", document, "", [] {}, 9, 0,
         "err:printproxy:set_printer_DrvDocumentPropertySheets invalid printer name"},
        {"no name", device, nullptr, [] {}, 9, 0,
         "err:printproxy:set_printer_DrvDevicePropertySheets invalid printer name"},
        {"not opened", document, "P", [] { fake.open_fails = true; }, 8, 0, "open printer failed"},
        {"size too small", document, "P", [] { fake.size = 155; }, 1, 0, "invalid size 155"},
        {"out of memory", document, "P", [] { fake.allocation_fails = true; }, 11, 0,
         "out of memory, 176"},
        {"confirmed", document, "P", [] {}, 0, 1, "set printer ok"},
        {"cancelled", document, "P", [] { fake.prompt_answer = IDCANCEL; }, 16, 0,
         "user canele set printer."},
        {"failed", document, "P", [] { fake.prompt_answer = -1; }, 1, 0,
         "get printer devmode info failed"},
        {"device dialog ended", device, "P", [] {}, 0, 0, "\"P\""},
        {"device dialog failed", device, "P", [] { fake.properties_answer = FALSE; }, 1, 0,
         "PrinterProperties error: 1234 \n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        fake = Fake();
        row.setup();
        int result = -1;
        std::string out =
            capture_debug_output("printproxy", [&] { result = row.dialog(row.printer); });
        EXPECT_EQ(row.result, result);
        EXPECT_EQ(row.stored, fake.stored) << "stored as the user's default";
        EXPECT_TRUE(contains(out, row.line)) << out;
        expect_released();
    }
}
