// Wine's path mapping in both directions, on the rig's prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/heap_ptr.h"
#include "service/page_job.h"
#include "service/unix_path.h"
#include "support/debug_capture.h"

namespace {

using UnixPath = HeapPtr<char>;

std::string text_of(const UnixPath &path) {
    return path ? path.get() : "(null)";
}

class UnixFileName : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_nt_to_unix_file_name"))
            GTEST_SKIP() << "not running under Wine";
        if (!getenv("WINEPREFIX"))
            GTEST_SKIP() << "WINEPREFIX is not set: run under scripts/wine-run";
    }
    void TearDown() override { unix_name_first_size = 256; }
};

TEST_F(UnixFileName, FileThatDoesNotExistYetGetsItsRealPath) {
    const std::string name = "unix_path_test_not_yet.ps";
    DeleteFileW(L"C:\\unix_path_test_not_yet.ps");
    UnixPath path(get_unix_file_name(L"unix_path_test_not_yet.ps"));
    EXPECT_EQ(text_of(path), drive_c_unix_path(name));
}

TEST_F(UnixFileName, TooSmallFirstBufferIsRetriedWithTheSizeAskedFor) {
    struct Row {
        const char *name;
        ULONG first_size;
    };
    const Row rows[] = {{"8 bytes", 8}, {"1 byte", 1}, {"exactly too small by one", 0}};
    const std::string expected = drive_c_unix_path("retry.ps");
    for (const Row &row : rows) {
        unix_name_first_size =
            row.first_size ? row.first_size : ULONG(drive_c_unix_path("").size() + 8);
        UnixPath path(get_unix_file_name(L"retry.ps"));
        EXPECT_EQ(text_of(path), expected) << row.name;
    }
}

TEST_F(UnixFileName, NameInAFolderAndInAMissingFolder) {
    CreateDirectoryW(L"C:\\unix_path_test_folder", nullptr);
    UnixPath inside(get_unix_file_name(L"unix_path_test_folder\\out.ps"));
    EXPECT_EQ(text_of(inside), drive_c_unix_path("unix_path_test_folder/out.ps"));

    // Names the start of a job anchors on C:\ the same way.
    UnixPath rooted(get_unix_file_name(L"\\rooted.ps"));
    EXPECT_EQ(text_of(rooted), drive_c_unix_path("rooted.ps"));
    UnixPath drive(get_unix_file_name(L"C:\\unix_path_test_folder\\out.ps"));
    EXPECT_EQ(text_of(drive), drive_c_unix_path("unix_path_test_folder/out.ps"));
    UnixPath slashes(get_unix_file_name(L"unix_path_test_folder/out.ps"));
    EXPECT_EQ(text_of(slashes), drive_c_unix_path("unix_path_test_folder/out.ps"));

    UnixPath missing(get_unix_file_name(L"no_such_folder_42\\out.ps"));
    EXPECT_EQ(text_of(missing), "(null)") << "a folder that does not exist has no path";
    EXPECT_EQ(text_of(UnixPath(get_unix_file_name(nullptr))), "(null)");
    RemoveDirectoryW(L"C:\\unix_path_test_folder");
}

TEST_F(UnixFileName, LogsTheNtPath) {
    std::string out = capture_debug_output("trace+printproxy",
                                           [] { UnixPath path(get_unix_file_name(L"logged.ps")); });
    std::string header = debug_header("trace", "get_unix_file_name");
    EXPECT_EQ(out.rfind(header, 0), 0u) << "actual output: " << out;
    EXPECT_NE(out.find("] L\"\\\\??\\\\C:\\\\logged.ps\"\n"), std::string::npos)
        << "actual output: " << out;
}

TEST_F(UnixFileName, UnixPathsMapToDosPaths) {
    DosPath tmp(dos_path_from_unix("/tmp/page.bmp"));
    ASSERT_TRUE(tmp);
    EXPECT_STREQ(tmp.get(), L"Z:\\tmp\\page.bmp");
    EXPECT_FALSE(DosPath(dos_path_from_unix(""))) << "an empty path maps to nothing";
    EXPECT_FALSE(DosPath(dos_path_from_unix(nullptr)));
}

} // namespace
