// The output file's place on drive C: and the paper-size table: pure logic.
#include <gtest/gtest.h>

#include <string>

#include "printer/output_path.h"
#include "printer/paper_table.h"

namespace {

std::string narrow(const std::wstring &text) {
    return std::string(text.begin(), text.end());
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
        {L"d:/spool/out.ps", L"d:/spool/out.ps", L"d:/spool"},
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
        EXPECT_EQ(narrow(row.path), narrow(path)) << "name \"" << narrow(row.name) << "\"";
        EXPECT_EQ(narrow(row.folder), narrow(output_folder(path)))
            << "path \"" << narrow(path) << "\"";
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
    const struct {
        uint32_t points;
        int16_t tenths;
    } sizes[] = {{596, 2103}, {842, 2972}, {9282, 32765}, {9283, 32767}, {65535, 32767}};
    for (const auto &row : sizes)
        EXPECT_EQ(row.tenths, points_to_tenths_mm(row.points)) << row.points << " points";
}
