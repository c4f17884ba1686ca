// The document start against the rig's printer (Wine's PostScript driver
// over the private CUPS queue named by PROXY_TEST_PRINTER).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "printer/doc_start.h"
#include "base/job_state.h"
#include "support/debug_capture.h"
#include "support/wine_host.h"
#include "ui/progress_window.h"

namespace {

const char OUTPUT_NAME[] = "doc_start_test_output.ps";
const wchar_t OUTPUT_NAME_W[] = L"doc_start_test_output.ps";

std::string narrow(const std::wstring &text) {
    return std::string(text.begin(), text.end());
}

std::wstring temp_folder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length);
}

std::wstring current_folder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    return std::wstring(path, length);
}

// What the failing stand-in for StartDocW was given.
struct StartDocSeen {
    HDC dc;
    std::wstring output;
};
StartDocSeen seen;

int WINAPI failing_start_doc(HDC dc, const DOCINFOW *doc) {
    seen = {dc, doc->lpszOutput ? doc->lpszOutput : L""};
    SetLastError(ERROR_GEN_FAILURE);
    return SP_ERROR;
}

class DocStart : public testing::Test {
  protected:
    void SetUp() override {
        const char *name = getenv("PROXY_TEST_PRINTER");
        if (!name || !*name)
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
        ASSERT_LT(strlen(name), sizeof(request.printer_name));
        reset_job_state();
        // The start-print handler has accepted the job before the start.
        job_state = JOB_STATE_ACCEPTED;
        strcpy(request.printer_name, name);
        strcpy(request.output_file_name, OUTPUT_NAME);
        request.job_id = 41;
        request.reserved1 = 3;
        request.data_type = DATA_TYPE_BITMAP;
        saved_folder = current_folder();
        DeleteFileW((L"C:\\" + std::wstring(OUTPUT_NAME_W)).c_str());
    }

    void TearDown() override {
        close_progress_window();
        join_progress_thread();
        if (printer_dc) {
            AbortDoc(printer_dc);
            DeleteDC(printer_dc);
        }
        start_doc_call = StartDocW;
        SetCurrentDirectoryW(saved_folder.c_str());
        reset_job_state();
    }

    PrintRequest request = {};
    std::wstring saved_folder;
};

TEST_F(DocStart, NoRequestIsInvalidAndTextJobsAreRefused) {
    int result = -1;
    std::string out = capture_debug_output(nullptr, [&] { result = open_printer_dc(nullptr); });
    EXPECT_EQ(DOC_START_FAILED, result);
    EXPECT_EQ(debug_header("err", "start_doc_for_bmp") + "invalid req\n", out);
    out = capture_debug_output(nullptr, [&] { result = start_doc_for_text(); });
    EXPECT_EQ(DOC_START_FAILED, result);
    EXPECT_EQ(debug_header("fixme", "start_doc_for_text") + "not support print text\n", out);
    EXPECT_EQ(nullptr, printer_dc);
    EXPECT_EQ(nullptr, progress_thread);
}

TEST_F(DocStart, DeviceModeFailuresOpenNoDcAndNoWindow) {
    struct Case {
        const char *row;
        void (*edit)(PrintRequest &);
        int expected;
    };
    const Case cases[] = {
        {"unknown printer", [](PrintRequest &r) { strcpy(r.printer_name, "No Such Printer 51"); },
         8},
        {"printer name without terminator",
         [](PrintRequest &r) { memset(r.printer_name, 'P', sizeof(r.printer_name)); }, 8},
        {"quality without Y resolution",
         [](PrintRequest &r) {
             r.fields = FIELD_PRINT_QUALITY;
             r.print_quality = 300;
         },
         12},
    };
    for (const Case &c : cases) {
        PrintRequest edited = request;
        c.edit(edited);
        int result = -1;
        capture_debug_output(nullptr, [&] { result = open_printer_dc(&edited); });
        EXPECT_EQ(c.expected, result)
            << c.row << ": actual " << result << ", expected " << c.expected;
        EXPECT_EQ(nullptr, printer_dc) << c.row;
        EXPECT_EQ(nullptr, progress_thread) << c.row << ": a window thread was started";
        EXPECT_EQ(JOB_STATE_ACCEPTED, job_state.load()) << c.row;
    }
}

// A relative output name lies at the root of drive C:, not in the directory
// the program was started in; the driver writes the file at EndDoc. A
// document left open by an ended job is abandoned first.
TEST_F(DocStart, DocumentStartsAndItsOutputLandsAtTheRootOfC) {
    HDC leftover = CreateDCA(nullptr, request.printer_name, nullptr, nullptr);
    ASSERT_NE(nullptr, leftover);
    DOCINFOW doc = {sizeof(doc), L"left over", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(leftover, &doc), 0);
    printer_dc = leftover;
    std::wstring folder = temp_folder();
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str())) << narrow(folder);
    std::wstring stray = folder + OUTPUT_NAME_W;
    DeleteFileW(stray.c_str());

    ASSERT_EQ(DOC_START_OK, open_printer_dc(&request));
    ASSERT_EQ(DOC_START_OK, start_doc_for_bmp(&request));
    EXPECT_EQ(JOB_STATE_DOC_STARTED, job_state.load());
    ASSERT_NE(nullptr, printer_dc);
    EXPECT_NE(leftover, printer_dc);
    EXPECT_EQ(0u, GetObjectType(leftover)) << "the old DC was not deleted";
    int width = GetDeviceCaps(printer_dc, HORZRES);
    int height = GetDeviceCaps(printer_dc, VERTRES);
    EXPECT_EQ(width, page_width) << "actual " << page_width << ", expected HORZRES " << width;
    EXPECT_EQ(height, page_height) << "actual " << page_height << ", expected VERTRES " << height;
    EXPECT_EQ(2479, page_width) << "the rig's A4 page at 300 dpi";
    EXPECT_EQ(3508, page_height) << "the rig's A4 page at 300 dpi";

    EXPECT_GT(EndDoc(printer_dc), 0);
    std::wstring expected = L"C:\\" + std::wstring(OUTPUT_NAME_W);
    std::string head = file_contents(expected).substr(0, 4);
    EXPECT_EQ("%!PS", head) << narrow(expected) << ": actual \"" << head << "\"";
    EXPECT_EQ(GetFileAttributesW(stray.c_str()), INVALID_FILE_ATTRIBUTES)
        << "output went to the current folder " << narrow(stray);
    DeleteFileW(expected.c_str());
    DeleteFileW(stray.c_str());
}

TEST_F(DocStart, FailedStartDeletesTheDc) {
    start_doc_call = failing_start_doc;
    int result = -1;
    ASSERT_EQ(DOC_START_OK, open_printer_dc(&request));
    std::string out = capture_debug_output(nullptr, [&] { result = start_doc_for_bmp(&request); });
    EXPECT_EQ(DOC_START_FAILED, result);
    EXPECT_NE(std::string::npos,
              out.find(debug_header("err", "start_doc_for_bmp") + "StartDocW failed, 1f\n"))
        << "actual output: " << out;
    EXPECT_EQ(nullptr, printer_dc) << "the deleted DC stayed recorded";
    EXPECT_EQ(0u, GetObjectType(seen.dc)) << "the DC was not deleted";
    EXPECT_EQ(JOB_STATE_ACCEPTED, job_state.load());
    EXPECT_EQ(0, page_width);
    EXPECT_EQ(0, page_height);

    EXPECT_EQ("C:\\doc_start_test_output.ps", narrow(seen.output));

    // The output name is read only within its field.
    memset(request.output_file_name, 'o', sizeof(request.output_file_name));
    ASSERT_EQ(DOC_START_OK, open_printer_dc(&request));
    capture_debug_output(nullptr, [&] { start_doc_for_bmp(&request); });
    EXPECT_EQ("C:\\" + std::string(sizeof(request.output_file_name), 'o'), narrow(seen.output));
}

} // namespace
