// The output file's place on drive C:, the paper-size table, the query
// program's text and the font-link list: pure logic.
#include <gtest/gtest.h>

#include <string>

#include "winpath/output_path.h"
#include "printer/paper_table.h"
#include "query/query_format.h"
#include "ui/font_link_list.h"

namespace {

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

} // namespace

TEST(OutputPath, AnchoredOnTheRootOfDriveCWithItsFolder) {
    const struct {
        const wchar_t *name, *path, *folder;
    } rows[] = {
        {L"out.ps", L"C:\\out.ps", L"C:\\"},
        {L"jobs\\7\\out.ps", L"C:\\jobs\\7\\out.ps", L"C:\\jobs\\7"},
        {L"jobs/out.ps", L"C:\\jobs/out.ps", L"C:\\jobs"},
        {L"\\out.ps", L"C:\\out.ps", L"C:\\"},
        {L"/a/out.ps", L"C:/a/out.ps", L"C:/a"},
        {L"z:/spool/out.ps", L"z:/spool/out.ps", L"z:/spool"},
        {L"Z:out.ps", L"Z:\\out.ps", L"Z:\\"},
        {L"a:", L"a:\\", L"a:\\"},
        {L"A:x", L"A:\\x", L"A:\\"},
        {L"\\\\server\\share\\out.ps", L"\\\\server\\share\\out.ps", L""},
        {L"\\\\.\\pipe\\out", L"\\\\.\\pipe\\out", L""},
        {L"1:out.ps", L"C:\\1:out.ps", L"C:\\"},
        {L"[:x", L"C:\\[:x", L"C:\\"},
        {L"", L"", L""},
    };
    for (const auto &row : rows) {
        std::wstring path = output_path_on_drive_c(row.name);
        EXPECT_EQ(row.path, path) << "name \"" << narrow(row.name) << "\"";
        EXPECT_EQ(row.folder, output_folder(path)) << "path \"" << narrow(path) << "\"";
    }
}

TEST(PaperTable, ExactSizesFindTheFirstCodeOthersAreConverted) {
    const struct {
        uint32_t width, height;
        int32_t code; // 0: none
    } rows[] = {{612, 792, 1}, {792, 1224, 3}, {842, 595, 77},
                {0, 0, 0},     {596, 842, 0},  {612, 0, 0}};
    for (const auto &row : rows)
        EXPECT_EQ(row.code, find_paper_code(row.width, row.height).value_or(0))
            << row.width << " x " << row.height;
    // A driver's papers in tenths of a millimetre: the nearest within 2 mm.
    const std::vector<DriverPaper> papers = {
        {11, 1480, 2100}, {256, 2032, 2540}, {9, 2100, 2970}, {300, 2110, 2980}};
    const struct {
        uint32_t width, height;
        int32_t code;
    } near[] = {{421, 595, 11}, {576, 720, 256}, {420, 600, 11}, {420, 601, 0},
                {595, 842, 9},  {598, 845, 300}, {283, 425, 0}};
    for (const auto &row : near)
        EXPECT_EQ(row.code, find_driver_paper(row.width, row.height, papers).value_or(0))
            << row.width << " x " << row.height;
    EXPECT_EQ(300, find_driver_paper(595, 842, papers, 300).value_or(0)) << "the preferred";
    // 100 x 150 mm fits A5, 8x10 and A4: the smallest, A5. Nothing holds 300 mm.
    EXPECT_EQ(11, find_enclosing_driver_paper(283, 425, papers).value_or(0));
    EXPECT_EQ(0, find_enclosing_driver_paper(283, 851, papers).value_or(0));
    // Chosen: listed in that orientation, listed turned, the table's, enclosing.
    std::vector<DriverPaper> with_ledger = papers;
    with_ledger.insert(with_ledger.end(), {{3, 2794, 4318}, {4, 4318, 2794}});
    const uint32_t chosen[][3] = {{1224, 792, 4}, {792, 1224, 3}, {842, 595, 9},
                                  {612, 792, 1},  {283, 425, 11}, {2000, 3000, 0}};
    for (const auto &[width, height, code] : chosen)
        EXPECT_EQ(code, uint32_t(choose_driver_paper(width, height, with_ledger).value_or(0)))
            << width << " x " << height;
    // A driver that takes explicit sizes (tenths of a millimetre) gets 600 x 800
    // points as they are only inside its range; its own papers still win.
    const CustomPaperRange around = {2116, 2822, 2117, 2823}, wide = {100, 100, 9000, 9000};
    EXPECT_FALSE(choose_driver_paper(600, 800, with_ledger, around).has_value());
    EXPECT_EQ(9, choose_driver_paper(595, 842, with_ledger, wide).value_or(0));
    for (const CustomPaperRange &off : {CustomPaperRange{2117, 2822, 2118, 2823},
                                        {2116, 2823, 2117, 2824},
                                        {2115, 2821, 2116, 2823},
                                        {2115, 2821, 2117, 2822}})
        EXPECT_EQ(9, choose_driver_paper(600, 800, with_ledger, off).value_or(0));
    const struct {
        uint32_t points;
        int16_t tenths;
    } sizes[] = {{596, 2103}, {842, 2972}, {9282, 32765}, {9283, 32767}, {65535, 32767}};
    for (const auto &row : sizes)
        EXPECT_EQ(row.tenths, points_to_tenths_mm(row.points)) << row.points << " points";
}

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
