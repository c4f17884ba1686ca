#include <gtest/gtest.h>

#include <string>

#include "printer/output_path.h"

namespace {

struct PathCase {
    const char *row;
    const wchar_t *name;
    const wchar_t *expected;
};

const PathCase PATH_CASES[] = {
    {"plain name", L"out.ps", L"C:\\out.ps"},
    {"name in a folder", L"jobs\\7\\out.ps", L"C:\\jobs\\7\\out.ps"},
    {"forward slashes", L"jobs/out.ps", L"C:\\jobs/out.ps"},
    {"dot folder", L".\\out.ps", L"C:\\.\\out.ps"},
    {"root of the current drive", L"\\out.ps", L"C:\\out.ps"},
    {"root of the current drive, forward slash", L"/out.ps", L"C:/out.ps"},
    {"drive with its root", L"C:\\out.ps", L"C:\\out.ps"},
    {"other drive with its root", L"d:/spool/out.ps", L"d:/spool/out.ps"},
    {"drive without root", L"C:out.ps", L"C:\\out.ps"},
    {"other drive without root", L"D:out.ps", L"D:\\out.ps"},
    {"bare drive", L"E:", L"E:\\"},
    {"UNC path", L"\\\\server\\share\\out.ps", L"\\\\server\\share\\out.ps"},
    {"device path", L"\\\\.\\pipe\\out", L"\\\\.\\pipe\\out"},
    {"digit before a colon is no drive", L"1:out.ps", L"C:\\1:out.ps"},
    {"single letter", L"x", L"C:\\x"},
    {"empty name", L"", L""},
};

std::string narrow(const std::wstring &text) {
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(OutputPathOnDriveC, AnchorsRelativeNamesAtTheRootOfC) {
    for (const PathCase &c : PATH_CASES) {
        std::wstring actual = output_path_on_drive_c(c.name);
        EXPECT_EQ(std::wstring(c.expected), actual)
            << c.row << ": \"" << narrow(c.name) << "\" gave \"" << narrow(actual)
            << "\", expected \"" << narrow(c.expected) << "\"";
    }
}
