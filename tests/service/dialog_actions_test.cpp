// The dialog and shutdown actions as the dispatcher calls them: the answers
// are read back from the send queue (no send thread runs), the dialogs are
// stand-ins, and the shutdown request
// is recorded instead of ending this Wine session.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/send_queue.h"
#include "printer/property_dialogs.h"
#include "service/dialog_actions.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "support/fake_property_dialogs.h"
#include "support/queued_packet.h"

namespace {

struct ShutdownRequest {
    int calls = 0;
    UINT flags = 0;
    DWORD reason = 0;
    QueuedPacket queued_before; // what the send queue held when it was made
};
ShutdownRequest shutdown_request;

BOOL WINAPI record_shutdown(UINT flags, DWORD reason) {
    shutdown_request.calls++;
    shutdown_request.flags = flags;
    shutdown_request.reason = reason;
    shutdown_request.queued_before = take_queued(true);
    return TRUE;
}

using Handler = int (*)(const unsigned char *, size_t, uint32_t);

struct DialogAction {
    const char *name;
    Handler handler;
    uint16_t answer;
};
const DialogAction DIALOG_ACTIONS[] = {
    {"document properties", HandleDocumentProperties, 0x1004},
    {"device properties", HandleDeviceProperties, 0x1005},
};

class DialogActions : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(init_send_queue());
        saved_dialogs = property_dialog_calls;
        property_dialog_calls = FAKE_PROPERTY_DIALOGS;
        saved_shutdown = request_session_end;
        request_session_end = record_shutdown;
        shutdown_request = ShutdownRequest();
        dialog_fake = FakeDialogDriver();
        reset_job_state();
    }
    void TearDown() override {
        property_dialog_calls = saved_dialogs;
        request_session_end = saved_shutdown;
        reset_job_state();
        free_send_queue();
    }

    // Runs one action and checks its one answer, byte for byte.
    void expect_answer(const DialogAction &action, const unsigned char *body, size_t length,
                       uint32_t status, const std::string &text) {
        int result = action.handler(body, length, 41);
        EXPECT_EQ(0, result) << "the session must end: actual " << result << ", expected 0";
        QueuedPacket packet = take_queued(true);
        EXPECT_EQ(action.answer, packet.code) << "actual " << packet.code;
        EXPECT_EQ(41u, packet.req_id);
        EXPECT_EQ(status, packet.status) << "actual " << packet.status << ", expected " << status;
        EXPECT_EQ(text, packet.text);
        EXPECT_EQ(0, take_queued(true).code) << "more than one answer";
    }

    PropertyDialogCalls saved_dialogs{};
    BOOL(WINAPI *saved_shutdown)(UINT, DWORD) = nullptr;
};

const unsigned char PRINTER_BODY[] = "Tavri Fake";

} // namespace

TEST_F(DialogActions, RefusedWithoutDialogWhileAJobIsActive) {
    const uint32_t active_states[] = {JOB_STATE_ACCEPTED, JOB_STATE_DOC_STARTED,
                                      JOB_STATE_PAGE_STARTED, JOB_STATE_LAST_PAGE};
    for (const DialogAction &action : DIALOG_ACTIONS) {
        for (uint32_t state : active_states) {
            SCOPED_TRACE(std::string(action.name) + ", job state " + std::to_string(state));
            job_state = state;
            expect_answer(action, PRINTER_BODY, sizeof(PRINTER_BODY), 13, "Printing in progress");
        }
    }
    EXPECT_EQ(0, dialog_fake.opened) << "a printer was opened while a job ran";
}

// The dialog's result is the status; the answer carries no text.
TEST_F(DialogActions, IdleShowsTheDialogAndAnswersItsResult) {
    for (const DialogAction &action : DIALOG_ACTIONS) {
        SCOPED_TRACE(action.name);
        dialog_fake = FakeDialogDriver();
        expect_answer(action, PRINTER_BODY, sizeof(PRINTER_BODY), 0, "");
        EXPECT_EQ(1, dialog_fake.opened) << "the dialog's printer was not opened";
    }
}

// The name ends exactly where readable memory ends: a read past the body
// would fault instead of passing unnoticed.
TEST_F(DialogActions, NameWithoutTerminatorIsRefusedUnread) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    auto *pages = static_cast<unsigned char *>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old_protection;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old_protection));
    const char name[] = "TavriTestPDF";
    const size_t length = sizeof(name) - 1;
    unsigned char *body = pages + page - length;
    memcpy(body, name, length);

    for (const DialogAction &action : DIALOG_ACTIONS) {
        SCOPED_TRACE(action.name);
        expect_answer(action, body, length, 9, "");
    }
    EXPECT_EQ(0, dialog_fake.opened) << "a printer was opened for an unterminated name";
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(DialogActions, ShutdownIsAnsweredBeforeItIsRequested) {
    int result = HandleShutdown(77);

    EXPECT_EQ(0, result) << "the session must end: actual " << result << ", expected 0";
    ASSERT_EQ(1, shutdown_request.calls) << "ExitWindowsEx calls";
    EXPECT_EQ(UINT(EWX_SHUTDOWN), shutdown_request.flags);
    EXPECT_EQ(0u, shutdown_request.reason);
    const QueuedPacket &answer = shutdown_request.queued_before;
    EXPECT_EQ(0x1007, answer.code) << "actual " << answer.code << ", queued before the request";
    EXPECT_EQ(77u, answer.req_id);
    EXPECT_EQ(0u, answer.status);
    EXPECT_EQ("OK", answer.text);
}
