// The device mode and the driver's dialogs over stand-ins for winspool and the
// allocator: outcomes no real driver gives, and releases on every path; then
// the A4 printable area the rig's real driver reports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "printer/devmode.h"
#include "query/printer_query.h"
#include "printer/property_dialogs.h"
#include "support/rig.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

HANDLE const FAKE_PRINTER = reinterpret_cast<HANDLE>(0x5150);

struct Fake {
    bool open_fails = false, allocation_fails = false;
    LONG size = sizeof(DEVMODEA) + 20, prompt_answer = IDOK;
    BOOL properties_answer = TRUE;
    int opened = 0, closed = 0, allocated = 0, released = 0, stored = 0;
} fake;

BOOL WINAPI fake_open(LPSTR, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
    *printer = FAKE_PRINTER;
    return !fake.open_fails && ++fake.opened;
}

// Sizing, reading and prompting, told apart by the mode.
LONG WINAPI fake_document_properties(HWND, HANDLE, LPSTR, PDEVMODEA output, PDEVMODEA, DWORD mode) {
    if (mode == DM_OUT_BUFFER)
        output->dmFields = DM_COPIES, output->dmCopies = 4;
    return mode == 0 ? fake.size : mode == DM_OUT_BUFFER ? IDOK : fake.prompt_answer;
}

// Closing disturbs the thread's last error, as a real close may.
BOOL WINAPI fake_close(HANDLE printer) {
    fake.closed += printer == FAKE_PRINTER;
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
}

auto fake_allocate = [](size_t size) -> void * {
    return fake.allocation_fails ? nullptr : (fake.allocated++, calloc(1, size));
};
auto fake_release = [](void *buffer) { fake.released++, free(buffer); };

// The device mode as a start-print builds it from `request`. The buffer is
// the caller's: one released before it is handed over would be released twice.
PrintRequest request;
int build_devmode(const char *) {
    DEVMODEA *built = nullptr;
    int result = get_devmode_by_name(&request, &built);
    EXPECT_EQ(result == STATUS_OK, built != nullptr);
    EXPECT_TRUE(!built || built->dmCopies == 1) << "the driver's record, edited";
    free_devmode(built);
    return result;
}

} // namespace

// A device mode's defaults: only the fields it states; a resolution for a
// positive quality, with its own Y only when that is stated and positive.
TEST(PrinterQuery, DefaultsAreWhatTheDeviceModeStates) {
    const DWORD Q = DM_PRINTQUALITY, Y = DM_YRESOLUTION;
    const struct {
        DWORD fields;
        short quality, y;
        int32_t x_dpi, y_dpi; // 0: no resolution
    } rows[] = {{Q | Y, 600, 1200, 600, 1200}, {Q, 600, 1200, 600, 600},
                {Q | Y, 300, 0, 300, 300},     {Q | Y, 0, 300, 0, 0},
                {Q | Y, -3, 300, 0, 0},        {Y | DM_PAPERSIZE, 600, 600, 0, 0}};
    for (const auto &row : rows) {
        DEVMODEW dm = {};
        dm.dmFields = row.fields, dm.dmPrintQuality = row.quality, dm.dmYResolution = row.y;
        DefaultSettings d = default_settings(dm);
        Resolution dpi = d.resolution.value_or(Resolution{});
        EXPECT_EQ(std::pair(row.x_dpi, row.y_dpi), std::pair(dpi.x, dpi.y)) << row.quality;
        EXPECT_EQ(d.paper.has_value(), (row.fields & DM_PAPERSIZE) != 0) << row.quality;
    }
}

// The driver's record states copies 5 and colour; what each request leaves.
TEST(SetDevmode, AppliesExactlyTheSelectedSettings) {
    struct Settings {
        DWORD fields;
        short copies, collate, duplex, source, paper, length, width, quality, y, color;
        bool operator==(const Settings &) const = default; // member by member, not padding
    };
    const DWORD BASE = DM_COPIES | DM_COLOR;
    // clang-format off
    const struct { const char *name; PrintRequest request; int result; Settings expected; } rows[] = {
        {"nothing selected: copies reset to 1", {}, 0, {BASE, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"copies alone are collated", {.fields = 0x02, .copies = 0x10003}, 0, {BASE, 3, 1, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"copies, collate 0", {.fields = 0x03, .collate = 0, .copies = 2}, 0, {BASE | DM_COLLATE, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"duplex and source", {.fields = 0x0C, .duplex = 2, .paper_source = 15}, 0, {BASE | DM_DUPLEX | DM_DEFAULTSOURCE, 1, 0, 2, 15, 0, 0, 0, 0, 0, 2}},
        {"Letter", {.fields = 0x10, .paper_size = (612u << 16) | 792}, 0, {BASE | DM_PAPERSIZE, 1, 0, 0, 0, 1, 0, 0, 0, 0, 2}},
        {"no code: tenths of a millimetre", {.fields = 0x10, .paper_size = (596u << 16) | 842}, 0, {BASE | DM_PAPERLENGTH | DM_PAPERWIDTH, 1, 0, 0, 0, 0, 2972, 2103, 0, 0, 2}},
        {"quality 600 and Y", {.fields = 0x60, .print_quality = 600, .y_resolution = 1200}, 0, {BASE | DM_PRINTQUALITY | DM_YRESOLUTION, 1, 0, 0, 0, 0, 0, 0, 600, 1200, 2}},
        {"draft needs no Y", {.fields = 0x60, .print_quality = -1, .y_resolution = 9}, 0, {BASE | DM_PRINTQUALITY, 1, 0, 0, 0, 0, 0, 0, -1, 0, 2}},
        {"quality 0 without Y", {.fields = 0x20, .print_quality = 0}, 12, {BASE | DM_PRINTQUALITY, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"monochrome", {.fields = 0x80, .color = 1}, 0, {BASE, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"colour 3 keeps the driver's", {.fields = 0x80, .color = 3}, 0, {BASE, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
    };
    // clang-format on
    for (const auto &row : rows) {
        DEVMODEA dm = {};
        dm.dmFields = BASE;
        dm.dmCopies = 5;
        dm.dmColor = DMCOLOR_COLOR;
        EXPECT_EQ(row.result, set_devmode(&dm, &row.request)) << row.name;
        Settings actual = {dm.dmFields,        dm.dmCopies,      dm.dmCollate,     dm.dmDuplex,
                           dm.dmDefaultSource, dm.dmPaperSize,   dm.dmPaperLength, dm.dmPaperWidth,
                           dm.dmPrintQuality,  dm.dmYResolution, dm.dmColor};
        EXPECT_TRUE(row.expected == actual) << row.name;
    }
}

TEST(PrinterCalls, FailuresAndAnswersReleaseWhatWasObtained) {
    DevmodeCalls saved_devmode = devmode_calls;
    PropertyDialogCalls saved_dialogs = property_dialog_calls;
    devmode_calls = {fake_open, fake_document_properties, fake_close, fake_allocate, fake_release};
    property_dialog_calls = {
        fake_open,
        fake_document_properties,
        [](HANDLE, DWORD level, LPBYTE, DWORD) -> BOOL { return fake.stored += level == 9; },
        [](HWND, HANDLE) -> BOOL { return SetLastError(1234), fake.properties_answer; },
        fake_close,
        fake_allocate,
        fake_release};
    auto devmode = build_devmode;
    auto document = set_printer_DrvDocumentPropertySheets;
    auto device = set_printer_DrvDevicePropertySheets;
    auto as_is = [](PrintRequest &) {};
    const struct {
        const char *name;
        int (*call)(const char *);
        const char *printer;
        std::function<void(PrintRequest &)> setup;
        int result, stored;
        const char *line;
    } rows[] = {
        // clang-format off
        {"device mode built", devmode, "", as_is, STATUS_OK, 0, ""},
        {"device mode: printer not opened", devmode, "", [](PrintRequest &) { fake.open_fails = true; }, 8, 0, ""},
        {"device mode: name without its NUL", devmode, "", [](PrintRequest &r) { memset(r.printer_name, 'P', 128); }, 8, 0, ""},
        {"device mode: size one short of the fixed part", devmode, "", [](PrintRequest &) { fake.size = sizeof(DEVMODEA) - 1; }, 1, 0, ""},
        {"device mode: the fixed part alone", devmode, "", [](PrintRequest &) { fake.size = sizeof(DEVMODEA); }, STATUS_OK, 0, ""},
        {"device mode: out of memory", devmode, "", [](PrintRequest &) { fake.allocation_fails = true; }, 11, 0, ""},
        {"device mode: quality without Y resolution", devmode, "", [](PrintRequest &r) { r.fields = 0x20, r.print_quality = 600; }, 12, 0, ""},
        {"no name", document, "", as_is, 9, 0, "err:printproxy:set_printer_DrvDocumentPropertySheets invalid printer name"},
        {"no name", device, nullptr, as_is, 9, 0, "err:printproxy:set_printer_DrvDevicePropertySheets invalid printer name"},
        {"not opened", document, "P", [](PrintRequest &) { fake.open_fails = true; }, 8, 0, "open printer failed"},
        {"size too small", document, "P", [](PrintRequest &) { fake.size = 155; }, 1, 0, "invalid size 155"},
        {"out of memory", document, "P", [](PrintRequest &) { fake.allocation_fails = true; }, 11, 0, "out of memory, 176"},
        {"confirmed", document, "P", as_is, 0, 1, "set printer ok"},
        {"cancelled", document, "P", [](PrintRequest &) { fake.prompt_answer = IDCANCEL; }, 16, 0, "user canele set printer."},
        {"failed", document, "P", [](PrintRequest &) { fake.prompt_answer = -1; }, 1, 0, "get printer devmode info failed"},
        {"device dialog ended", device, "P", as_is, 0, 0, "\"P\""},
        {"device dialog failed", device, "P", [](PrintRequest &) { fake.properties_answer = FALSE; }, 1, 0, "PrinterProperties error: 1234 \n"},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        fake = Fake();
        request = {.printer_name = "Fake"};
        row.setup(request);
        int result = -1;
        std::string out =
            capture_debug_output("printproxy", [&] { result = row.call(row.printer); });
        EXPECT_EQ(row.result, result);
        EXPECT_EQ(row.stored, fake.stored) << "stored as the user's default";
        EXPECT_TRUE(contains(out, row.line)) << out;
        EXPECT_EQ(fake.opened, fake.closed) << "printers opened and closed";
        EXPECT_EQ(fake.allocated, fake.released) << "buffers allocated and released";
    }
    devmode_calls = saved_devmode;
    property_dialog_calls = saved_dialogs;
}

// The rest of what the query reports is checked through the real queue; the
// printable area is what a page of the rig's printer is drawn into.
TEST(PrinterQuery, RigPrinterOffersA4AtItsPrintableArea) {
    std::string narrow_rig = rig_printer();
    std::wstring rig(narrow_rig.begin(), narrow_rig.end());
    if (rig.empty())
        GTEST_SKIP() << "PROXY_TEST_PRINTER is unset: start the rig (scripts/services start)";
    std::vector<PrinterEntry> printers;
    PrinterCapabilities caps;
    QueryFailure failure;
    ASSERT_TRUE(query_printers(&printers, &failure) && query_capabilities(rig, &caps, &failure))
        << testing::PrintToString(failure.message);
    // Listed again with another printer the default: of both lists, the rig's alone is marked.
    wchar_t kept[MAX_PATH] = L"";
    GetProfileStringW(L"windows", L"device", L"", kept, MAX_PATH);
    WriteProfileStringW(L"windows", L"device", L"Elsewhere,winspool,FILE:");
    EXPECT_TRUE(query_printers(&printers, &failure));
    WriteProfileStringW(L"windows", L"device", kept);
    auto is_default = [](const PrinterEntry &p) { return p.is_default; };
    EXPECT_EQ(std::count_if(printers.begin(), printers.end(), is_default), 1);
    EXPECT_TRUE(std::any_of(printers.begin(), printers.end(),
                            [&](const PrinterEntry &p) { return p.name == rig && p.is_default; }));
    auto a4 = std::find_if(caps.papers.begin(), caps.papers.end(),
                           [](const Paper &p) { return p.id == DMPAPER_A4; });
    ASSERT_NE(caps.papers.end(), a4) << "no A4";
    const PaperMetrics &m = a4->metrics;
    EXPECT_EQ((std::vector<int>{2479, 3508, 300, 300}),
              (std::vector<int>{m.printable_width, m.printable_height, m.dpi_x, m.dpi_y}));
}

// Every paper the rig's driver lists, asked for in whole points, reaches the
// driver as a paper of that size (A5 at 421 points, 8x10, ANSI C ...).
TEST(SetDevmode, EveryDriverPaperIsSelectedBySize) {
    std::string rig = rig_printer();
    if (rig.empty())
        GTEST_SKIP() << "PROXY_TEST_PRINTER is unset: start the rig (scripts/services start)";
    PrintRequest request = {.fields = FIELD_PAPER_SIZE};
    strncpy(request.printer_name, rig.c_str(), sizeof(request.printer_name) - 1);
    std::vector<WORD> codes(256);
    std::vector<POINT> sizes(256);
    const int count = DeviceCapabilitiesA(rig.c_str(), nullptr, DC_PAPERS, (LPSTR)codes.data(), 0);
    ASSERT_TRUE(count > 20 && count <= 256 &&
                DeviceCapabilitiesA(rig.c_str(), nullptr, DC_PAPERSIZE, (LPSTR)sizes.data(), 0));
    for (int i = 0; i < count; i++) {
        request.paper_size = uint32_t(lround(sizes[i].x * 72 / 254.0)) << 16 |
                             uint32_t(lround(sizes[i].y * 72 / 254.0));
        DEVMODEA dm = {};
        ASSERT_EQ(STATUS_OK, set_devmode(&dm, &request));
        const int at = int(std::find(codes.begin(), codes.begin() + count, dm.dmPaperSize) -
                           codes.begin()); // count when the driver does not list it
        EXPECT_TRUE(at < count && std::abs(sizes[at].x - sizes[i].x) <= 20 &&
                    std::abs(sizes[at].y - sizes[i].y) <= 20)
            << "paper " << codes[i] << " became code " << dm.dmPaperSize;
    }
    // The driver takes explicit sizes: one it lacks reaches it as it is.
    request.paper_size = 600u << 16 | 800;
    DEVMODEA custom = {};
    ASSERT_EQ(STATUS_OK, set_devmode(&custom, &request));
    EXPECT_EQ(DWORD(DM_PAPERLENGTH | DM_PAPERWIDTH), custom.dmFields);
    EXPECT_EQ(2118, custom.dmPaperWidth);
    EXPECT_EQ(2824, custom.dmPaperLength);
}
