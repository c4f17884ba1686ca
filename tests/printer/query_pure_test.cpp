// The query program's text and the font-link list: pure logic.
#include <gtest/gtest.h>

#include <string>

#include "printer/query_format.h"
#include "ui/font_link_list.h"

namespace {

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

} // namespace

TEST(QueryFormat, RecordsInTheirOrderWithNamesKeptToOneField) {
    PrinterCapabilities caps;
    caps.printer = L"Office\tA\r\n";
    caps.driver = L"PS 打印";
    caps.color = true;
    caps.copies = 999;
    caps.resolutions = {{300, 300}, {600, 1200}};
    caps.bins = {{15, L"Auto\nSelect"}};
    caps.papers = {{9, 2100, 2970, {2480, 3508, 1, 0, 2479, 3508, 300, 300}, L"A4"},
                   {256, 0, 0, {}, L""}};
    caps.defaults.paper = 9;
    caps.defaults.resolution = Resolution{300, 300};
    caps.defaults.collate = 0;
    EXPECT_EQ("printer\tOffice A  \n"
              "driver\tPS ??\n"
              "color\t1\nduplex\t0\ncopies\t999\ncollate\t0\n"
              "resolution\t300\t300\nresolution\t600\t1200\n"
              "bin\t15\tAuto Select\n"
              "paper\t9\t2100\t2970\t2480\t3508\t1\t0\t2479\t3508\t300\t300\tA4\n"
              "paper\t256\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\n"
              "default\tpaper\t9\ndefault\tresolution\t300\t300\ndefault\tcollate\t0\n"
              "end\n",
              narrow(format_capabilities(caps)));

    EXPECT_EQ("", narrow(format_printer_list({})));
    EXPECT_EQ("A\tdrv\tLPT1:\t-\nB B\t\tcups:\tdefault\n",
              narrow(format_printer_list(
                  {{L"A", L"drv", L"LPT1:", false}, {L"B\tB", L"", L"cups:", true}})));
}

TEST(FontLinkList, AppendsOnlyWhatIsMissingAndKeepsTheRest) {
    const wchar_t value[] = L"simsun.ttc,SimSun\0gulim.ttc,Gulim\0\0stale\0";
    auto links = split_multi_sz(value, sizeof(value) / sizeof(wchar_t) - 1);
    ASSERT_EQ(2u, links.size()) << "the list ends at its empty entry";
    EXPECT_FALSE(add_font_link(&links, L"SIMSUN.TTC, simsun"));
    EXPECT_TRUE(add_font_link(&links, L"wqy-microhei.ttc,WenQuanYi Micro Hei"));
    EXPECT_FALSE(add_font_link(&links, L"wqy-microhei.ttc,WenQuanYi Micro Hei"));
    std::wstring joined = join_multi_sz(links);
    EXPECT_EQ(std::wstring(L"simsun.ttc,SimSun\0gulim.ttc,Gulim\0"
                           L"wqy-microhei.ttc,WenQuanYi Micro Hei\0\0",
                           joined.size()),
              joined);

    const wchar_t unterminated[] = {L'a', L'\0', L'b'};
    EXPECT_EQ(2u, split_multi_sz(unterminated, 3).size()) << "a last entry without its NUL";
    EXPECT_TRUE(split_multi_sz(L"", 0).empty());
    EXPECT_EQ(std::wstring(1, L'\0'), join_multi_sz({}));
}
