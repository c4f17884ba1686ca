// get_devmode_by_name against the rig's real printer (Wine's PostScript
// driver over the private CUPS queue named by PROXY_TEST_PRINTER); the
// failure paths and their releases are in get_devmode_test.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "printer/devmode.h"

namespace {

class RealPrinter : public testing::Test {
  protected:
    void SetUp() override {
        const char *name = getenv("PROXY_TEST_PRINTER");
        if (!name || !*name)
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
        ASSERT_LT(strlen(name), sizeof(request.printer_name));
        strcpy(request.printer_name, name);
    }

    PrintRequest request = {};
    DEVMODEA *result = nullptr;
};

} // namespace

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
