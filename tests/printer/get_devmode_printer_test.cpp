// get_devmode_by_name against the rig's real printer (Wine's PostScript
// driver over the private CUPS queue named by PROXY_TEST_PRINTER).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "printer/devmode.h"

namespace {

int opened;
int closed;
int allocated;
size_t allocated_size;
int released;
DevmodeCalls real_calls;

BOOL WINAPI counting_open(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
    BOOL ok = real_calls.open_printer(name, printer, defaults);
    opened += ok != FALSE;
    return ok;
}

BOOL WINAPI counting_close(HANDLE printer) {
    closed++;
    return real_calls.close_printer(printer);
}

void *counting_allocate(size_t size) {
    void *buffer = real_calls.allocate_zeroed(size);
    allocated += buffer != nullptr;
    allocated_size = size;
    return buffer;
}

void counting_release(void *buffer) {
    released++;
    real_calls.release(buffer);
}

class RealPrinter : public testing::Test {
  protected:
    void SetUp() override {
        const char *name = getenv("PROXY_TEST_PRINTER");
        if (!name || !*name)
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
        ASSERT_LT(strlen(name), sizeof(request.printer_name));
        strcpy(request.printer_name, name);
        real_calls = devmode_calls;
        devmode_calls = {counting_open, real_calls.document_properties, counting_close,
                         counting_allocate, counting_release};
        opened = closed = allocated = released = 0;
        allocated_size = 0;
    }
    void TearDown() override {
        if (real_calls.open_printer)
            devmode_calls = real_calls;
    }

    PrintRequest request = {};
    DEVMODEA *result = nullptr;
};

} // namespace

TEST_F(RealPrinter, UnknownPrinterCannotBeOpened) {
    strcpy(request.printer_name, "No Such Printer 7f3a");
    EXPECT_EQ(DEVMODE_PRINTER_NOT_OPENED, get_devmode_by_name(&request, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0, allocated);
}

TEST_F(RealPrinter, DriverRecordCarriesTheRequest) {
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
    EXPECT_EQ(allocated_size, size_t(result->dmSize + result->dmDriverExtra))
        << "buffer of the reported size, filled by the driver: dmSize " << result->dmSize
        << ", dmDriverExtra " << result->dmDriverExtra;
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
    EXPECT_EQ(1, opened);
    EXPECT_EQ(1, closed);
    EXPECT_EQ(0, released);
}

TEST_F(RealPrinter, QualityWithoutYResolutionLeaksNothing) {
    request.fields = FIELD_PRINT_QUALITY;
    request.print_quality = 600;
    EXPECT_EQ(DEVMODE_NO_Y_RESOLUTION, get_devmode_by_name(&request, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(1, opened);
    EXPECT_EQ(opened, closed) << "printer handles";
    EXPECT_EQ(1, allocated);
    EXPECT_EQ(allocated, released) << "device-mode buffers";
}
