#include "service/page_job.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "net/send_queue.h"
#include "service/handlers.h"
#include "service/job_finish.h"
#include "base/job_state.h"
#include "ui/progress_window.h"

std::string drive_c_unix_path(const std::string &name) {
    const char *prefix = getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "(WINEPREFIX unset)") + "/drive_c/" + name;
}

void PageJob::SetUp() {
    const char *name = getenv("PROXY_TEST_PRINTER");
    if (!name || !*name)
        GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
    printer = name;
    reset_job_state();
    ASSERT_TRUE(init_send_queue());
    char unique[64];
    snprintf(unique, sizeof(unique), "page_job_%lu.ps",
             static_cast<unsigned long>(GetCurrentProcessId()));
    output_name = unique;
    output_dos_path = L"C:\\" + std::wstring(output_name.begin(), output_name.end());
    DeleteFileW(output_dos_path.c_str());
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"page_job_test\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    finish_wait_period_ms = 1;
}

void PageJob::TearDown() {
    if (printer_dc) {
        AbortDoc(printer_dc);
        DeleteDC(printer_dc);
    }
    close_progress_window();
    join_progress_thread();
    while (take_queued().code != 0) {
    }
    free_send_queue();
    release_current_job();
    reset_job_state();
    finish_wait_period_ms = 100;
    output_file_checks = 120;
    enum_jobs_call = EnumJobsW;
    DeleteFileW(output_dos_path.c_str());
}

void PageJob::accept_job(uint32_t pages) {
    auto *record = static_cast<PrintRequest *>(calloc(1, sizeof(PrintRequest)));
    ASSERT_TRUE(record);
    record->job_id = 77;
    strncpy(record->printer_name, printer.c_str(), sizeof(record->printer_name) - 1);
    strncpy(record->output_file_name, output_name.c_str(), sizeof(record->output_file_name) - 1);
    record->reserved1 = pages;
    record->data_type = DATA_TYPE_BITMAP;
    release_current_job();
    current_job = record;
    current_job_id = record->job_id;
    job_state = JOB_STATE_ACCEPTED;
}

void PageJob::open_job(uint32_t pages, uint32_t scale) {
    ASSERT_NO_FATAL_FAILURE(accept_job(pages));
    current_job->scale = scale;
    HDC dc = CreateDCA(nullptr, printer.c_str(), nullptr, nullptr);
    ASSERT_TRUE(dc) << printer << ": GetLastError " << GetLastError();
    DOCINFOW doc = {};
    doc.cbSize = sizeof(doc);
    doc.lpszDocName = L"Test Print";
    doc.lpszOutput = output_dos_path.c_str();
    printer_dc = dc;
    ASSERT_GT(StartDocW(dc, &doc), 0) << "GetLastError " << GetLastError();
    job_state = JOB_STATE_DOC_STARTED;
    page_width = GetDeviceCaps(dc, HORZRES);
    page_height = GetDeviceCaps(dc, VERTRES);
}

std::string PageJob::write_page(const char *name, const std::vector<unsigned char> &bytes) {
    std::wstring path = folder + std::wstring(name, name + strlen(name));
    std::unique_ptr<FILE, decltype(&fclose)> stream(_wfopen(path.c_str(), L"wb"), &fclose);
    EXPECT_TRUE(stream) << name;
    if (stream && !bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), stream.get());
    return unix_path(path);
}

QueuedPacket PageJob::send_page(const std::string &unix_path, uint32_t req_id) {
    std::vector<unsigned char> body(unix_path.begin(), unix_path.end());
    body.push_back(0);
    EXPECT_EQ(1, HandlePageFilename(body.data(), body.size(), req_id)) << "the session goes on";
    QueuedPacket reply = take_queued();
    EXPECT_EQ(reply.code, 0x1002) << "actual code " << reply.code << ", expected 0x1002";
    EXPECT_EQ(reply.req_id, req_id);
    EXPECT_EQ(reply.text, "") << "a page reply carries no text";
    return reply;
}
