// Page messages against a document open on the rig's printer: the page
// statuses with their err lines, the page counters, the last page that ends
// the job, and the file reader.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "service/bmp_builder.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "service/page_intake.h"
#include "service/page_job.h"
#include "support/debug_capture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes valid_page() {
    BmpLayout layout;
    layout.width = 40;
    layout.height = 30;
    return build_bmp(layout);
}

Bytes first_bytes(Bytes file, size_t count) {
    file.resize(count);
    return file;
}

std::string err_line(const char *function_name, const std::string &text) {
    return debug_header("err", function_name) + text;
}

struct StatusRow {
    const char *name;
    Bytes file;
    bool create_file;
    uint32_t status;
    const char *function_name; // of the err line, or null for none
    std::string line;
};

class PageIntake : public PageJob {};

TEST_F(PageIntake, StatusesAndErrLinesOfOneOpenDocument) {
    ASSERT_NO_FATAL_FAILURE(open_job(100));
    BmpLayout short_pixels;
    short_pixels.pixel_bytes = 10;
    const char *reader = "read_one_fram_bmp_from_file";
    const char *handler = "HandlePageFilename";
    const StatusRow rows[] = {
        {"24-bit page", valid_page(), true, 0, nullptr, ""},
        {"empty file", {}, true, 6, reader, "invalid file size 0\n"},
        {"missing file", {}, false, 6, reader, "open file failed, err=2\n"},
        {"PNG file",
         {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A},
         true,
         15,
         handler,
         "not bmp file 5089\n"},
        {"one byte", {'B'}, true, 15, handler, "not bmp file 42\n"},
        {"headers cut short", first_bytes(valid_page(), 30), true, 15, handler,
         "invalid bmp file: headers beyond the end of the file, file size 30\n"},
        {"pixels beyond the end", build_bmp(short_pixels), true, 15, handler,
         "invalid bmp file: pixel data outside the file, file size 64\n"},
    };
    int received = 0;
    int printed = 0;
    uint32_t req_id = 500;
    for (const StatusRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::string name = std::string("status_") + std::to_string(req_id) + ".bmp";
        std::string path = write_page(name.c_str(), row.file);
        ASSERT_FALSE(path.empty());
        if (!row.create_file)
            DeleteFileW((folder + std::wstring(name.begin(), name.end())).c_str());
        QueuedPacket reply;
        std::string out = capture_debug_output(nullptr, [&] { reply = send_page(path, req_id); });
        EXPECT_EQ(reply.status, row.status)
            << "actual " << reply.status << ", expected " << row.status;
        if (row.function_name) {
            EXPECT_TRUE(contains(out, err_line(row.function_name, row.line)))
                << "actual output: " << out << "expected line: " << row.line;
        } else {
            EXPECT_EQ(out, "") << "no err line expected";
        }
        ++received;
        printed += row.status == 0;
        EXPECT_EQ(pages_received, received);
        EXPECT_EQ(pages_printed, printed);
        ++req_id;
    }
    EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_PAGE_STARTED)) << "the printed page's state";
}

TEST_F(PageIntake, MalformedPathsAreRefused) {
    ASSERT_NO_FATAL_FAILURE(open_job(100));
    // The NUL lies just beyond what was received: it does not count.
    const unsigned char buffer[] = {'/', 't', 'm', 'p', 0};
    QueuedPacket reply;
    std::string out = capture_debug_output(nullptr, [&] {
        EXPECT_EQ(HandlePageFilename(buffer, sizeof(buffer) - 1, 31), 1);
        reply = take_queued();
    });
    EXPECT_EQ(reply.status, uint32_t(PAGE_BAD_PATH)) << "actual " << reply.status;
    std::string line = "page path without terminating NUL in 4 bytes\n";
    EXPECT_TRUE(contains(out, err_line("HandlePageFilename", line))) << "actual output: " << out;
    EXPECT_EQ(pages_received, 1);

    out = capture_debug_output(nullptr, [&] { reply = send_page("", 32); });
    EXPECT_EQ(reply.status, 6u) << "actual " << reply.status;
    EXPECT_TRUE(
        contains(out, err_line("read_one_fram_bmp_from_file", "wine_get_dos_file_name failed\n")))
        << "actual output: " << out;

    EXPECT_EQ(1, HandlePageFilename(nullptr, 0, 41));
    reply = take_queued();
    EXPECT_EQ(reply.code, 0x1002);
    EXPECT_EQ(reply.status, 24u) << "actual " << reply.status;
}

TEST_F(PageIntake, RefusedWithoutAnOpenDocument) {
    struct Row {
        const char *name;
        bool accepted_only;
        uint32_t status;
        int counted;
    };
    const Row rows[] = {
        {"job accepted, document not started", true, 20, 1},
        {"no job at all", false, 1, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        reset_job_state();
        if (row.accepted_only) {
            ASSERT_NO_FATAL_FAILURE(accept_job(3));
        }
        std::string path = write_page("refused.bmp", valid_page());
        QueuedPacket reply = send_page(path, 40);
        EXPECT_EQ(reply.status, row.status)
            << "actual " << reply.status << ", expected " << row.status;
        EXPECT_EQ(pages_received, row.counted) << "a refused page of a job still counts";
        EXPECT_EQ(pages_printed, 0);
        release_current_job();
    }
}

TEST_F(PageIntake, MessageWithoutBodyIsAnswered24) {
    EXPECT_EQ(1, HandlePageFilename(nullptr, 0, 41));
    QueuedPacket reply = take_queued();
    EXPECT_EQ(reply.code, 0x1002);
    EXPECT_EQ(reply.status, 24u) << "actual " << reply.status;
}

TEST_F(PageIntake, LastPageEndsTheJobAfterItsReply) {
    ASSERT_NO_FATAL_FAILURE(open_job(2));
    std::string good = write_page("good.bmp", valid_page());
    std::string bad = write_page("bad.png", {0x89, 0x50, 0x4E, 0x47});
    EXPECT_EQ(send_page(good, 1).status, 0u);
    EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_PAGE_STARTED));
    EXPECT_TRUE(printer_dc) << "the job is still open after its first page";

    // A refused last page ends the job too, and its status is the job's.
    EXPECT_EQ(send_page(bad, 2).status, 15u);
    QueuedPacket result = take_queued();
    EXPECT_EQ(result.code, 0x2001) << "actual code " << result.code;
    EXPECT_EQ(result.req_id, 0u);
    EXPECT_EQ(result.status, 15u) << "the status of the last page message";
    EXPECT_EQ(result.text, drive_c_unix_path(output_name));
    EXPECT_EQ(take_queued().code, 0) << "nothing after the job result";

    EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_IDLE));
    EXPECT_FALSE(printer_dc);
    EXPECT_EQ(pages_received, 0);
    EXPECT_EQ(pages_printed, 0);
    std::string ps = file_contents(output_dos_path);
    EXPECT_EQ(ps.substr(0, 4), "%!PS") << "the driver's output, " << ps.size() << " bytes";
}

// Refused pages still count: the last one ends the job, without a result.
TEST_F(PageIntake, JobWithoutPrintedPageSendsNoResult) {
    std::string bad = write_page("bad.png", {0x89, 0x50, 0x4E, 0x47});
    std::string good = write_page("good.bmp", valid_page());
    for (bool started : {true, false}) {
        SCOPED_TRACE(started ? "refused pages" : "document never started");
        if (started) {
            ASSERT_NO_FATAL_FAILURE(open_job(3));
        } else {
            ASSERT_NO_FATAL_FAILURE(accept_job(3));
        }
        for (uint32_t req_id = 1; req_id <= 3; ++req_id)
            EXPECT_EQ(send_page(started ? bad : good, req_id).status, started ? 15u : 20u);
        EXPECT_EQ(take_queued().code, 0) << "no job result";
        EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_IDLE));
        EXPECT_FALSE(printer_dc) << "the document was still ended";
        EXPECT_EQ(pages_received, 0);
    }
}

TEST_F(PageIntake, ReaderHandsOverTheWholeFile) {
    Bytes bytes = valid_page();
    std::string path = write_page("reader.bmp", bytes);
    unsigned char *buffer = nullptr;
    uint32_t size = 0;
    std::string out = capture_debug_output("trace+printproxy", [&] {
        EXPECT_EQ(read_one_fram_bmp_from_file(path.c_str(), &buffer, &size), 0);
    });
    ASSERT_TRUE(buffer);
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(memcmp(buffer, bytes.data(), bytes.size()), 0);
    free(buffer);
    std::string fn = "read_one_fram_bmp_from_file";
    EXPECT_TRUE(
        contains(out, debug_header("trace", fn.c_str()) + "File path (unix): " + path + "\n"))
        << "actual output: " << out;
    EXPECT_TRUE(contains(out, " " + std::to_string(bytes.size()) + "\n"))
        << "the size ends the dos line";

    EXPECT_EQ(read_one_fram_bmp_from_file(nullptr, &buffer, nullptr), 1);
    EXPECT_EQ(read_one_fram_bmp_from_file(path.c_str(), nullptr, nullptr), 1);
}

} // namespace
