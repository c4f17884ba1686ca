// The query of the rig's printer through its real driver.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "printer/printer_query.h"
#include "support/rig.h"

namespace {

std::string narrow(const std::wstring &text) {
    return std::string(text.begin(), text.end());
}

std::vector<std::string> lines_of(const std::wstring &text) {
    std::vector<std::string> lines;
    std::istringstream in(narrow(text));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(PrinterQuery, RigPrinterOffersA4AtItsPrintableArea) {
    std::string rig = rig_printer();
    if (rig.empty())
        GTEST_SKIP() << "PROXY_TEST_PRINTER is unset: start the rig (scripts/services start)";
    std::vector<PrinterEntry> printers;
    QueryFailure failure;
    ASSERT_TRUE(query_printers(&printers, &failure)) << narrow(failure.message);
    EXPECT_TRUE(std::any_of(printers.begin(), printers.end(),
                            [&](const PrinterEntry &p) { return narrow(p.name) == rig; }));

    PrinterCapabilities caps;
    ASSERT_TRUE(query_capabilities(std::wstring(rig.begin(), rig.end()), &caps, &failure))
        << narrow(failure.message);
    auto a4 = std::find_if(caps.papers.begin(), caps.papers.end(),
                           [](const Paper &p) { return p.id == DMPAPER_A4; });
    ASSERT_NE(caps.papers.end(), a4) << "no A4";
    const PaperMetrics &m = a4->metrics;
    EXPECT_NEAR(2100, a4->width, 1);
    EXPECT_NEAR(2970, a4->height, 1);
    EXPECT_NEAR(2480, m.physical_width, 2);
    EXPECT_NEAR(3508, m.physical_height, 2);
    EXPECT_EQ(2479, m.printable_width);
    EXPECT_EQ(3508, m.printable_height);
    EXPECT_EQ(300, m.dpi_x);
    EXPECT_EQ(300, m.dpi_y);

    std::vector<std::string> lines = lines_of(format_capabilities(caps));
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ("printer\t" + rig, lines.front());
    EXPECT_EQ("end", lines.back());

    PrinterCapabilities none;
    EXPECT_FALSE(query_capabilities(L"No Such Printer", &none, &failure));
    EXPECT_EQ(QUERY_CANNOT_OPEN, failure.exit_code);
    EXPECT_EQ(0u, narrow(failure.message).rfind("cannot open printer No Such Printer: error ", 0))
        << narrow(failure.message);
}
