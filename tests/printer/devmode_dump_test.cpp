#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "support/debug_capture.h"
#include "printer/devmode_dump.h"

namespace {

std::string fields_line(DWORD fields) {
    return capture_debug_output("trace+printproxy", [&] { dump_fields(fields); });
}

} // namespace

TEST(DumpFields, OneLineOneHeader) {
    struct Case {
        const char *row;
        DWORD fields;
        const char *text;
    };
    const Case cases[] = {
        {"ten names in table order", 0x0000FF03,
         "DM_ORIENTATION DM_PAPERSIZE DM_COPIES DM_DEFAULTSOURCE DM_PRINTQUALITY DM_COLOR "
         "DM_DUPLEX DM_YRESOLUTION DM_TTOPTION DM_COLLATE\n"},
        {"name and unnamed rest", 0x80000002, "DM_PAPERSIZE 0x80000000\n"},
        {"unnamed rest alone keeps its blank", 0x20000000, " 0x20000000\n"},
        {"nothing: the line feed only", 0, "\n"},
        {"every bit", 0xFFFFFFFF,
         "DM_ORIENTATION DM_PAPERSIZE DM_PAPERLENGTH DM_PAPERWIDTH DM_SCALE DM_POSITION DM_NUP "
         "DM_DISPLAYORIENTATION DM_COPIES DM_DEFAULTSOURCE DM_PRINTQUALITY DM_COLOR DM_DUPLEX "
         "DM_YRESOLUTION DM_TTOPTION DM_COLLATE DM_FORMNAME DM_LOGPIXELS DM_BITSPERPEL "
         "DM_PELSWIDTH DM_PELSHEIGHT DM_DISPLAYFLAGS DM_DISPLAYFREQUENCY DM_ICMMETHOD "
         "DM_ICMINTENT DM_MEDIATYPE DM_DITHERTYPE DM_PANNINGWIDTH DM_PANNINGHEIGHT "
         "0xe0000000\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(debug_header("trace", "dump_fields") + c.text, fields_line(c.fields)) << c.row;
}

TEST(DumpDevmode, EveryFieldOnItsOwnLine) {
    DEVMODEA dm = {};
    memcpy(dm.dmDeviceName, "Tavri \"PDF\"", 12);
    dm.dmSpecVersion = 0x401;
    dm.dmDriverVersion = 0x1;
    dm.dmSize = sizeof(DEVMODEA);
    dm.dmDriverExtra = 0x2c;
    dm.dmFields = 0x80000002;
    dm.dmOrientation = 1;
    dm.dmPaperSize = 9;
    dm.dmPaperLength = 2970;
    dm.dmPaperWidth = 2100;
    dm.dmScale = 100;
    dm.dmCopies = 2;
    dm.dmDefaultSource = 15;
    dm.dmPrintQuality = -4;
    dm.dmColor = 2;
    dm.dmDuplex = 1;
    dm.dmYResolution = 600;
    dm.dmTTOption = 3;
    dm.dmCollate = 1;
    memcpy(dm.dmFormName, "A4", 3);
    dm.dmLogPixels = 96;
    dm.dmBitsPerPel = 24;
    dm.dmPelsWidth = 4294967295u;
    dm.dmPelsHeight = 7;

    std::string out = capture_debug_output("trace+printproxy", [&] { dump_devmode(&dm); });
    std::string h = debug_header("trace", "dump_devmode");
    std::string expected =
        h + "dmDeviceName: \"Tavri \\\"PDF\\\"\"\n" + h + "dmSpecVersion: 0x0401\n" + h +
        "dmDriverVersion: 0x0001\n" + h + "dmSize: 0x009c\n" + h + "dmDriverExtra: 0x002c\n" + h +
        "dmFields: 0x80000002\n" + debug_header("trace", "dump_fields") +
        "DM_PAPERSIZE 0x80000000\n" + h + "dmOrientation: 1\n" + h + "dmPaperSize: 9\n" + h +
        "dmPaperLength: 2970\n" + h + "dmPaperWidth: 2100\n" + h + "dmScale: 100\n" + h +
        "dmCopies: 2\n" + h + "dmDefaultSource: 15\n" + h + "dmPrintQuality: -4\n" + h +
        "dmColor: 2\n" + h + "dmDuplex: 1\n" + h + "dmYResolution: 600\n" + h + "dmTTOption: 3\n" +
        h + "dmCollate: 1\n" + h + "dmFormName: \"A4\"\n" + h + "dmLogPixels 96\n" + h +
        "dmBitsPerPel 24\n" + h + "dmPelsWidth 4294967295\n" + h + "dmPelsHeight 7\n";
    EXPECT_EQ(expected, out);
}

// A full 32-byte name has no terminator; what follows the field in the
// record must not show up as part of the name.
TEST(DumpDevmode, NameFieldsEndAtTheirThirtySecondByte) {
    DEVMODEA dm = {};
    memset(dm.dmDeviceName, 'D', sizeof(dm.dmDeviceName));
    dm.dmSpecVersion = 0x5858; // "XX" right after the device name
    dm.dmDriverVersion = 0x5858;
    memset(dm.dmFormName, 'F', sizeof(dm.dmFormName));
    dm.dmLogPixels = 0x5959; // "YY" right after the form name
    dm.dmBitsPerPel = 0x59595959;

    std::string out = capture_debug_output("trace+printproxy", [&] { dump_devmode(&dm); });
    std::string h = debug_header("trace", "dump_devmode");
    EXPECT_NE(std::string::npos, out.find(h + "dmDeviceName: \"" + std::string(32, 'D') + "\"\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find(h + "dmFormName: \"" + std::string(32, 'F') + "\"\n"))
        << out;
}

TEST(DumpDevmode, SilentWithTraceOff) {
    DEVMODEA dm = {};
    dm.dmFields = 0xFFFFFFFF;
    EXPECT_EQ("", capture_debug_output(nullptr, [&] { dump_devmode(&dm); }));
    EXPECT_EQ("", capture_debug_output("-all", [&] { dump_devmode(&dm); }));
}
