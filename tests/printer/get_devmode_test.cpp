// get_devmode_by_name against the rig's real printer, and over counting
// stand-ins for the winspool calls and the allocator: the failures a real
// printer cannot be made to produce, and the release of handle and buffer on
// every path.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "printer/devmode.h"

namespace {

HANDLE const FAKE_PRINTER = reinterpret_cast<HANDLE>(0x5150);

struct FakeDriver {
    bool open_fails = false;
    LONG size = sizeof(DEVMODEA) + 20;
    bool allocation_fails = false;
    int opened = 0;
    int closed = 0;
    int allocated = 0;
    int released = 0;
};

FakeDriver fake;

BOOL WINAPI fake_open(LPSTR, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
    if (fake.open_fails)
        return FALSE;
    fake.opened++;
    *printer = FAKE_PRINTER;
    return TRUE;
}

LONG WINAPI fake_properties(HWND, HANDLE, LPSTR, PDEVMODEA output, PDEVMODEA, DWORD) {
    if (!output)
        return fake.size;
    memcpy(output->dmDeviceName, "Fake", 5);
    output->dmSize = sizeof(DEVMODEA);
    output->dmDriverExtra = WORD(fake.size - LONG(sizeof(DEVMODEA)));
    output->dmFields = DM_COPIES | DM_COLOR;
    output->dmCopies = 4;
    output->dmColor = DMCOLOR_COLOR;
    return IDOK;
}

BOOL WINAPI fake_close(HANDLE printer) {
    fake.closed += printer == FAKE_PRINTER;
    return TRUE;
}

void *fake_allocate(size_t size) {
    if (fake.allocation_fails)
        return nullptr;
    fake.allocated++;
    // Dirty memory would show through if the buffer were not zeroed.
    return calloc(1, size);
}

void fake_release(void *buffer) {
    fake.released++;
    free(buffer);
}

class GetDevmodeByName : public testing::Test {
  protected:
    void SetUp() override {
        saved = devmode_calls;
        devmode_calls = {fake_open, fake_properties, fake_close, fake_allocate, fake_release};
        fake = FakeDriver();
        strcpy(request.printer_name, "Fake Printer");
    }
    void TearDown() override { devmode_calls = saved; }

    int run() { return get_devmode_by_name(&request, &result); }

    DevmodeCalls saved = {};
    PrintRequest request = {};
    DEVMODEA *result = nullptr;
};

} // namespace

TEST_F(GetDevmodeByName, HandsOutTheEditedDriverRecord) {
    request.fields = FIELD_COLOR;
    request.color = DMCOLOR_MONOCHROME;
    ASSERT_EQ(DEVMODE_OK, run());
    DevmodeBuffer buffer(result);
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("Fake", reinterpret_cast<const char *>(result->dmDeviceName));
    EXPECT_EQ(20, result->dmDriverExtra);
    EXPECT_EQ(1, result->dmCopies) << "driver's copies without a request";
    EXPECT_EQ(DMCOLOR_MONOCHROME, result->dmColor);
    EXPECT_EQ(1, fake.closed) << "printer closed before returning";
    EXPECT_EQ(0, fake.released) << "buffer belongs to the caller";
    buffer.reset();
    EXPECT_EQ(1, fake.released);
}

TEST_F(GetDevmodeByName, FailuresReleaseWhatWasObtained) {
    struct Case {
        const char *row;
        void (*setup)(PrintRequest &);
        int result;
        int closed;
        int allocated;
    };
    const Case cases[] = {
        {"printer cannot be opened", [](PrintRequest &) { fake.open_fails = true; },
         DEVMODE_PRINTER_NOT_OPENED, 0, 0},
        {"name without terminator",
         [](PrintRequest &r) { memset(r.printer_name, 'P', sizeof(r.printer_name)); },
         DEVMODE_PRINTER_NOT_OPENED, 0, 0},
        {"size 155", [](PrintRequest &) { fake.size = sizeof(DEVMODEA) - 1; }, DEVMODE_NO_SIZE, 1,
         0},
        {"sizing fails", [](PrintRequest &) { fake.size = -1; }, DEVMODE_NO_SIZE, 1, 0},
        {"out of memory", [](PrintRequest &) { fake.allocation_fails = true; },
         DEVMODE_OUT_OF_MEMORY, 1, 0},
        {"quality without Y resolution",
         [](PrintRequest &r) {
             r.fields = FIELD_PRINT_QUALITY;
             r.print_quality = 600;
         },
         DEVMODE_NO_Y_RESOLUTION, 1, 1},
    };
    for (const Case &c : cases) {
        fake = FakeDriver();
        request = {};
        strcpy(request.printer_name, "Fake Printer");
        result = nullptr;
        c.setup(request);
        EXPECT_EQ(c.result, run()) << c.row;
        EXPECT_EQ(nullptr, result) << c.row << ": nothing handed out";
        EXPECT_EQ(c.closed, fake.closed) << c.row << ": printer closes";
        EXPECT_EQ(fake.opened, fake.closed) << c.row << ": opens and closes";
        EXPECT_EQ(c.allocated, fake.allocated) << c.row << ": allocations";
        EXPECT_EQ(fake.allocated, fake.released) << c.row << ": buffers released";
    }
}

TEST_F(GetDevmodeByName, SmallestUsableSizeIsTheFixedPart) {
    fake.size = sizeof(DEVMODEA);
    ASSERT_EQ(DEVMODE_OK, run());
    DevmodeBuffer buffer(result);
    EXPECT_EQ(0, result->dmDriverExtra);
}

TEST(RealPrinter, DriverRecordCarriesTheRequest) {
    const char *name = getenv("PROXY_TEST_PRINTER");
    if (!name || !*name)
        GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
    PrintRequest request = {};
    ASSERT_LT(strlen(name), sizeof(request.printer_name));
    strcpy(request.printer_name, name);
    DEVMODEA *result = nullptr;
    request.fields = FIELD_COPIES | FIELD_COLLATE | FIELD_DUPLEX | FIELD_PAPER_SIZE |
                     FIELD_PRINT_QUALITY | FIELD_Y_RESOLUTION | FIELD_COLOR;
    request.copies = 2;
    request.collate = 1;
    request.duplex = DMDUP_VERTICAL;
    request.paper_size = (595u << 16) | 842;
    request.print_quality = 300;
    request.y_resolution = 300;
    request.color = DMCOLOR_MONOCHROME;
    ASSERT_EQ(DEVMODE_OK, get_devmode_by_name(&request, &result))
        << "printer " << request.printer_name;
    DevmodeBuffer buffer(result);
    EXPECT_EQ(sizeof(DEVMODEA), result->dmSize);
    EXPECT_EQ(0, strncmp(request.printer_name, reinterpret_cast<const char *>(result->dmDeviceName),
                         sizeof(result->dmDeviceName) - 1))
        << "device name " << std::string(reinterpret_cast<const char *>(result->dmDeviceName), 32);
    EXPECT_EQ(2, result->dmCopies);
    EXPECT_EQ(1, result->dmCollate);
    EXPECT_EQ(DMDUP_VERTICAL, result->dmDuplex);
    EXPECT_EQ(DMPAPER_A4, result->dmPaperSize);
    EXPECT_EQ(300, result->dmPrintQuality);
    EXPECT_EQ(300, result->dmYResolution);
    EXPECT_EQ(DMCOLOR_MONOCHROME, result->dmColor);
    DWORD wanted =
        DM_COPIES | DM_COLLATE | DM_PAPERSIZE | DM_PRINTQUALITY | DM_YRESOLUTION | DM_COLOR;
    EXPECT_EQ(wanted, result->dmFields & wanted) << std::hex << "dmFields 0x" << result->dmFields;
}
