// The start-print handler and its record check, with the rig's printer and
// the real heartbeat; answers are read back from the send queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "net/heartbeat.h"
#include "net/send_queue.h"
#include "net/timing.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "service/start_print.h"
#include "support/debug_capture.h"
#include "support/queued_packet.h"
#include "ui/progress_window.h"

namespace {

const char CHECK_FAILED[] = "check request header failed.";

std::string pointer_text(const void *p) {
    char text[32];
    snprintf(text, sizeof(text), "%p", p);
    return text;
}

class StartPrint : public testing::Test {
  protected:
    void SetUp() override {
        const char *name = getenv("PROXY_TEST_PRINTER");
        if (!name || !*name)
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set (start the rig: scripts/services start)";
        ASSERT_LT(strlen(name), sizeof(request.printer_name));
        reset_job_state();
        ASSERT_TRUE(init_send_queue());
        queue_ready = true;
        heartbeat_period_ms = 60000;
        request.job_id = 0x01020304;
        strcpy(request.printer_name, name);
        strcpy(request.output_file_name, "start_print_test.ps");
        request.reserved1 = 2;
        request.data_type = DATA_TYPE_BITMAP;
    }

    void TearDown() override {
        stop_heartbeat_timer();
        close_progress_window();
        join_progress_thread();
        if (printer_dc) {
            AbortDoc(printer_dc);
            DeleteDC(printer_dc);
        }
        if (queue_ready)
            free_send_queue();
        heartbeat_period_ms = 30000;
        reset_job_state();
    }

    // Runs the handler as the dispatcher does, with every class of the
    // channel on; returns what it logged.
    std::string handle(PrintRequest *record, uint32_t req_id) {
        int result = 0;
        std::string out =
            capture_debug_output("printproxy", [&] { result = HandleStartPrint(record, req_id); });
        EXPECT_EQ(1, result) << "the session always goes on";
        return out;
    }

    void expect_answer(uint32_t req_id, uint32_t status, const std::string &text) {
        QueuedPacket packet = take_queued();
        EXPECT_EQ(0x1001, packet.code) << "actual code " << packet.code;
        EXPECT_EQ(req_id, packet.req_id);
        EXPECT_EQ(status, packet.status) << "actual " << packet.status << ", expected " << status;
        EXPECT_EQ(text, packet.text);
        EXPECT_EQ(0, take_queued().code) << "exactly one answer";
    }

    PrintRequest request = {};
    bool queue_ready = false;
};

struct CheckCase {
    const char *row;
    void (*edit)(PrintRequest &);
    int code;
    const char *message; // err line of check_req_header, or null
};

const CheckCase CHECK_CASES[] = {
    {"valid bitmap record", [](PrintRequest &) {}, 0, nullptr},
    {"valid text record", [](PrintRequest &r) { r.data_type = DATA_TYPE_TEXT; }, 0, nullptr},
    {"printer probe runs before the data type",
     [](PrintRequest &r) {
         strcpy(r.printer_name, "No Such Printer 52");
         r.data_type = 3;
     },
     8, "Can't open printer No Such Printer 52\n"},
    {"printer name without terminator is not probed",
     [](PrintRequest &r) {
         memset(r.printer_name, 'P', sizeof(r.printer_name));
         r.data_type = 3;
     },
     9, "Invalid printer name\n"},
    {"output name without terminator, before the probe",
     [](PrintRequest &r) {
         memset(r.output_file_name, 'o', sizeof(r.output_file_name));
         strcpy(r.printer_name, "No Such Printer 52");
     },
     9, "Invalid output file name\n"},
    {"data type 0", [](PrintRequest &r) { r.data_type = 0; }, 5, "Invalid data type, 0.\n"},
    {"data type before output name",
     [](PrintRequest &r) {
         r.data_type = 3;
         r.output_file_name[0] = 0;
     },
     5, "Invalid data type, 3.\n"},
    {"output name before duplex",
     [](PrintRequest &r) {
         r.output_file_name[0] = 0;
         r.fields = FIELD_DUPLEX;
         r.duplex = 9;
     },
     9, "Invalid output file name\n"},
    {"duplex 0 with its bit",
     [](PrintRequest &r) {
         r.fields = FIELD_DUPLEX;
         r.duplex = 0;
     },
     14, "Invalid duplex mode 0\n"},
    {"duplex before page count",
     [](PrintRequest &r) {
         r.fields = FIELD_DUPLEX;
         r.duplex = 4;
         r.reserved1 = 0;
     },
     14, "Invalid duplex mode 4\n"},
    {"duplex 1 with its bit",
     [](PrintRequest &r) {
         r.fields = FIELD_DUPLEX;
         r.duplex = 1;
     },
     0, nullptr},
    {"no pages", [](PrintRequest &r) { r.reserved1 = 0; }, 23, "Invalid reserved1 0\n"},
};

} // namespace

TEST_F(StartPrint, CheckReqHeaderOrderCodesAndMessages) {
    for (const CheckCase &c : CHECK_CASES) {
        PrintRequest edited = request;
        c.edit(edited);
        int code = -1;
        std::string out = capture_debug_output(nullptr, [&] { code = check_req_header(&edited); });
        EXPECT_EQ(c.code, code) << c.row << ": actual " << code << ", expected " << c.code;
        std::string expected = c.message ? debug_header("err", "check_req_header") + c.message : "";
        EXPECT_EQ(expected, out) << c.row;
    }
}

TEST_F(StartPrint, CheckReqHeaderWithoutRecord) {
    int code = -1;
    std::string out = capture_debug_output(nullptr, [&] { code = check_req_header(nullptr); });
    EXPECT_EQ(1, code);
    EXPECT_EQ(debug_header("err", "check_req_header") + "Invalid request header\n", out);
}

TEST_F(StartPrint, RefusedRecordIsAnsweredWithItsCheckCodeAndChangesNothing) {
    request.reserved1 = 0;
    std::string out = handle(&request, 7);
    expect_answer(7, 23, CHECK_FAILED);
    EXPECT_NE(std::string::npos,
              out.find(debug_header("err", "HandleStartPrint") + "check request header failed.\n"))
        << out;
    strcpy(request.printer_name, "No Such Printer 53");
    request.reserved1 = 2;
    handle(&request, 8);
    expect_answer(8, 8, CHECK_FAILED);
    EXPECT_EQ(JOB_STATE_IDLE, job_state.load());
    EXPECT_EQ(0u, current_job_id.load());
    EXPECT_EQ(nullptr, heartbeat_thread);
    EXPECT_EQ(nullptr, progress_thread);
}

TEST_F(StartPrint, RecordWhileAJobRunsLeavesThatJobAlone) {
    job_state = JOB_STATE_DOC_STARTED;
    current_job_id = 5;
    set_heartbeat_timer();
    HANDLE running_timer = heartbeat_thread;
    ASSERT_NE(nullptr, running_timer);

    request.job_id = 9;
    std::string out = handle(&request, 10);
    expect_answer(10, 21, "Print in progress");
    EXPECT_EQ(5u, current_job_id.load());
    EXPECT_EQ(JOB_STATE_DOC_STARTED, job_state.load());
    EXPECT_EQ(running_timer, heartbeat_thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(running_timer, 0)) << "the timer was ended";
    EXPECT_EQ(std::string::npos, out.find(":err:")) << out;
    EXPECT_EQ(std::string::npos, out.find("heartbeat")) << out;
    EXPECT_EQ(nullptr, progress_thread);
}

TEST_F(StartPrint, TextJobIsAcceptedWithHeartbeatThenAnsweredOne) {
    request.data_type = DATA_TYPE_TEXT;
    std::string out = handle(&request, 11);
    expect_answer(11, 1, "");
    EXPECT_EQ(JOB_STATE_ACCEPTED, job_state.load());
    EXPECT_EQ(0x01020304u, current_job_id.load());
    ASSERT_NE(nullptr, heartbeat_thread);
    EXPECT_EQ(nullptr, progress_thread);
    EXPECT_EQ(nullptr, printer_dc);

    size_t timer = out.find("start heartbeat timer " + pointer_text(heartbeat_thread) + "\n");
    size_t fixme =
        out.find(debug_header("fixme", "start_doc_for_text") + "not support print text\n");
    size_t done = out.find("done, error_code = 1\n");
    EXPECT_NE(std::string::npos, timer) << out;
    EXPECT_NE(std::string::npos, fixme) << out;
    EXPECT_NE(std::string::npos, done) << out;
    EXPECT_TRUE(timer < fixme && fixme < done) << "out of order: " << out;

    // The heartbeat carries the accepted job's id.
    stop_heartbeat_timer();
    QueuedPacket heartbeat = take_queued(true);
    EXPECT_EQ(0x2002, heartbeat.code);
    ASSERT_EQ(4u, heartbeat.body.size());
    EXPECT_EQ(0x01020304u, read_be32(heartbeat.body.data()));
}

TEST_F(StartPrint, BitmapJobIsAnsweredZeroWithTheDocumentStarted) {
    std::string out = handle(&request, 12);
    expect_answer(12, 0, "");
    EXPECT_EQ(JOB_STATE_DOC_STARTED, job_state.load());
    EXPECT_EQ(0x01020304u, current_job_id.load());
    EXPECT_NE(nullptr, printer_dc);
    EXPECT_NE(nullptr, progress_thread);
    EXPECT_NE(nullptr, heartbeat_thread);
    EXPECT_EQ(2479, page_width);
    EXPECT_EQ(3508, page_height);

    std::string trace = debug_header("trace", "HandleStartPrint");
    size_t first = out.find(trace + "[");
    size_t timer = out.find("start heartbeat timer " + pointer_text(heartbeat_thread) + "\n");
    size_t done = out.find("done, error_code = 0\n");
    ASSERT_NE(std::string::npos, first) << out;
    EXPECT_EQ("] \n", out.substr(out.find(']', first), 3)) << "a line of the stamp alone";
    EXPECT_TRUE(first < timer && timer < done && done != std::string::npos) << out;
}

TEST_F(StartPrint, QualityWithoutYResolutionIsAnsweredTwelveWithoutWindow) {
    request.fields = FIELD_PRINT_QUALITY;
    request.print_quality = 600;
    handle(&request, 13);
    expect_answer(13, 12, "");
    EXPECT_EQ(JOB_STATE_ACCEPTED, job_state.load()) << "accepted, document not started";
    EXPECT_NE(nullptr, heartbeat_thread);
    EXPECT_EQ(nullptr, progress_thread);
    EXPECT_EQ(nullptr, printer_dc);
}
