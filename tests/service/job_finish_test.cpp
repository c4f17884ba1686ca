// The end of a job: the order of its last messages, the state it goes
// through, the spool wait and its budget for the whole run, the output-file
// wait under FORCE_SLEEP, and the end of the progress window's thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "service/bmp_builder.h"
#include "service/job_finish.h"
#include "base/job_state.h"
#include "service/page_job.h"
#include "support/debug_capture.h"
#include "ui/progress_window.h"

namespace {

int count_of(const std::string &text, const std::string &part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A scripted queue: each call answers with the next row; the last row repeats.
struct QueueAnswer {
    BOOL result;
    DWORD error; // LEAVE_ERROR: the last error stays as it was, as Wine 8's stub does
    DWORD count;
};
constexpr DWORD LEAVE_ERROR = 0xFFFFFFFF;
std::vector<QueueAnswer> queue_script;
int queue_calls;
std::vector<uint32_t> states_seen;

BOOL WINAPI scripted_enum_jobs(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD needed,
                               LPDWORD returned) {
    states_seen.push_back(job_state.load());
    const QueueAnswer &answer =
        queue_script[std::min<size_t>(size_t(queue_calls), queue_script.size() - 1)];
    ++queue_calls;
    *needed = 0;
    *returned = answer.count;
    if (answer.error != LEAVE_ERROR)
        SetLastError(answer.error);
    return answer.result;
}

class JobFinish : public PageJob {
  protected:
    void SetUp() override {
        PageJob::SetUp();
        if (IsSkipped())
            return;
        saved_budget = spool_wait_budget;
        queue_script = {{TRUE, 0, 0}};
        queue_calls = 0;
        states_seen.clear();
        page = write_page("finish.bmp", build_bmp({}));
    }
    void TearDown() override {
        spool_wait_budget = saved_budget;
        _putenv_s("FORCE_SLEEP", "");
        PageJob::TearDown();
    }

    // A one-page job, printed; returns the debug output of its page.
    std::string run_one_page_job(const char *pxq = "trace+printproxy") {
        open_job(1);
        std::string out = capture_debug_output(pxq, [&] { send_page(page, 9); });
        return out;
    }

    int saved_budget = 100;
    std::string page;
};

// Under FORCE_SLEEP the document is found at once: EndDoc has written it.
TEST_F(JobFinish, PageReplyThenJobResultThenIdle) {
    _putenv_s("FORCE_SLEEP", "0");
    enum_jobs_call = scripted_enum_jobs;
    std::string out = run_one_page_job();
    EXPECT_EQ(count_of(out, "wait file generates"), 0) << "actual output: " << out;
    QueuedPacket result = take_queued();
    EXPECT_EQ(result.code, 0x2001) << "actual code " << result.code;
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.text, drive_c_unix_path(output_name));
    ASSERT_EQ(states_seen.size(), 1u) << "one queue query";
    EXPECT_EQ(states_seen[0], uint32_t(JOB_STATE_LAST_PAGE)) << "actual " << states_seen[0];
    EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_IDLE));
    EXPECT_EQ(file_contents(output_dos_path).substr(0, 4), "%!PS");
}

TEST_F(JobFinish, SpoolBudgetIsSpentAcrossJobs) {
    enum_jobs_call = scripted_enum_jobs;
    queue_script = {{TRUE, 0, 1}}; // a queue that never empties
    spool_wait_budget = 5;
    std::string first = run_one_page_job();
    EXPECT_EQ(queue_calls, 5);
    EXPECT_EQ(count_of(first, "Job count 1\n"), 5) << "actual output: " << first;
    EXPECT_EQ(spool_wait_budget, 0);
    EXPECT_EQ(take_queued().code, 0x2001);

    queue_calls = 0;
    std::string second = run_one_page_job();
    EXPECT_EQ(queue_calls, 0) << "a spent budget asks the queue nothing";
    EXPECT_EQ(count_of(second, "Job count"), 0);
    EXPECT_EQ(take_queued().code, 0x2001);
}

TEST_F(JobFinish, QueueAnswersThatEndOrContinueTheWait) {
    struct Row {
        const char *name;
        std::vector<QueueAnswer> script;
        int calls;
        int pauses;
    };
    const Row rows[] = {
        {"empty queue", {{TRUE, 0, 0}}, 1, 0},
        {"busy twice, then empty", {{TRUE, 0, 2}, {TRUE, 0, 1}, {TRUE, 0, 0}}, 3, 2},
        {"insufficient buffer counts as an answer",
         {{FALSE, ERROR_INSUFFICIENT_BUFFER, 3}, {FALSE, ERROR_INSUFFICIENT_BUFFER, 0}},
         2,
         1},
        {"failure ends the wait", {{TRUE, 0, 1}, {FALSE, ERROR_INVALID_HANDLE, 1}}, 2, 1},
        {"failure without an error ends the wait", {{FALSE, ERROR_SUCCESS, 1}}, 1, 0},
        {"failure that leaves an old error ends the wait",
         {{TRUE, ERROR_INSUFFICIENT_BUFFER, 1}, {FALSE, LEAVE_ERROR, 1}},
         2,
         1},
    };
    enum_jobs_call = scripted_enum_jobs;
    for (const Row &row : rows) {
        queue_script = row.script;
        queue_calls = 0;
        spool_wait_budget = 50;
        wait_for_spool_queue(printer.c_str());
        EXPECT_EQ(queue_calls, row.calls) << row.name << ": actual " << queue_calls;
        EXPECT_EQ(50 - spool_wait_budget, row.pauses) << row.name;
    }
    // Wine 8's EnumJobsW fails and leaves the last error alone; an old
    // "insufficient buffer" must not keep the wait going.
    enum_jobs_call = EnumJobsW;
    spool_wait_budget = 50;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    wait_for_spool_queue(printer.c_str());
    EXPECT_EQ(spool_wait_budget, 50) << "no pause was spent on the platform's queue";
}

TEST_F(JobFinish, ForceSleepWaitsForMoreThanOneByte) {
    struct Row {
        const char *name;
        const char *content; // null: no file
        const char *name_prefix;
        int pauses;
    };
    // Names are taken from the root of C:, with a leading separator or not.
    const Row rows[] = {
        {"no file", nullptr, "", 120},
        {"one byte", "x", "", 120},
        {"two bytes", "xy", "", 0},
        {"two bytes, name with a leading separator", "xy", "\\", 0},
    };
    for (const Row &row : rows) {
        DeleteFileW(output_dos_path.c_str());
        if (row.content) {
            FILE *f = _wfopen(output_dos_path.c_str(), L"wb");
            ASSERT_TRUE(f);
            fputs(row.content, f);
            fclose(f);
        }
        std::string name = row.name_prefix + output_name;
        std::string out =
            capture_debug_output("trace+printproxy", [&] { wait_for_output_file(name.c_str()); });
        EXPECT_EQ(count_of(out, "wait file generates...\n"), row.pauses)
            << row.name << ": actual output: " << out;
    }
}

TEST_F(JobFinish, ProgressThreadEndsWithTheJobEvenBeforeItsWindowExists) {
    enum_jobs_call = scripted_enum_jobs;
    open_job(1);
    // The window's thread may not have made its window yet when the job ends.
    progress_thread = start_progress_thread(1);
    ASSERT_TRUE(progress_thread);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), progress_thread, GetCurrentProcess(), &thread,
                                0, FALSE, DUPLICATE_SAME_ACCESS));
    DWORD started = GetTickCount();
    send_page(page, 3);
    EXPECT_LT(GetTickCount() - started, 10000u);
    EXPECT_FALSE(progress_thread) << "joined and cleared";
    EXPECT_FALSE(progress_window.load());
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the thread has ended";
    CloseHandle(thread);
}

} // namespace
