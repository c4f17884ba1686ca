#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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
    };
    for (const Case &c : cases)
        EXPECT_EQ(debug_header("trace", "dump_fields") + c.text, fields_line(c.fields)) << c.row;
}

// One line of each format: quoted name, four-digit hex, the fields line
// followed by its names, signed and unsigned numbers, and the fields that
// are written without a colon.
TEST(DumpDevmode, EveryFieldOnItsOwnLine) {
    DEVMODEA dm = {};
    memcpy(dm.dmDeviceName, "Tavri \"PDF\"", 12);
    dm.dmSize = sizeof(DEVMODEA);
    dm.dmFields = 0x80000002;
    dm.dmPrintQuality = -4;
    dm.dmLogPixels = 96;
    dm.dmPelsWidth = 4294967295u;

    std::string out = capture_debug_output("trace+printproxy", [&] { dump_devmode(&dm); });
    std::string h = debug_header("trace", "dump_devmode");
    const std::string lines[] = {
        h + "dmDeviceName: \"Tavri \\\"PDF\\\"\"\n",
        h + "dmSize: 0x009c\n",
        h + "dmFields: 0x80000002\n" + debug_header("trace", "dump_fields") +
            "DM_PAPERSIZE 0x80000000\n",
        h + "dmPrintQuality: -4\n",
        h + "dmLogPixels 96\n",
        h + "dmPelsWidth 4294967295\n",
    };
    size_t at = 0;
    for (const std::string &line : lines) {
        size_t found = out.find(line, at);
        EXPECT_NE(std::string::npos, found) << "missing or out of order: " << line << out;
        if (found != std::string::npos)
            at = found + line.size();
    }
    EXPECT_EQ(25, std::count(out.begin(), out.end(), '\n')) << out;
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
