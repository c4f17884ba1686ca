#include "service/dispatcher.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "diag/log_line.h"
#include "base/byte_order.h"
#include "net/connection.h"
#include "net/send_queue.h"
#include "service/handlers.h"
#include "base/heap_ptr.h"
#include "base/job_state.h"
#include "service/messages.h"
#include "service/page_intake.h"
#include "ui/progress_window.h"

namespace {

const wchar_t PREPROCESSING_FAILED[] = L"预处理失败!";

using Body = HeapPtr<unsigned char>;

// What handling one message led to.
enum class Outcome { GO_ON, HANDLER_ENDED, SESSION_OVER };

Outcome from_handler(int result) {
    return result ? Outcome::GO_ON : Outcome::HANDLER_ENDED;
}

// A record that a running job refuses ("Print in progress") must not replace
// the record that job prints by: it only becomes current_job while idle.
Outcome handle_start_print(Body body, uint32_t req_id) {
    auto *request = reinterpret_cast<PrintRequest *>(body.get());
    print_request_to_host(request);
    if (job_active())
        return from_handler(HandleStartPrint(request, req_id));
    release_current_job();
    current_job = reinterpret_cast<PrintRequest *>(body.release());
    return from_handler(HandleStartPrint(current_job, req_id));
}

Outcome handle_notice(uint16_t code, const unsigned char *body, size_t length) {
    Notice notice = parse_notice(body, length);
    std::string text(notice.text ? notice.text : "", notice.text_length);
    const char *format = code == NOTIFY_PRINT_DONE ? "%sprint done: %d, msg: %s\n"
                                                   : "%scancel print done: %d, msg: %s\n";
    LOG_PROGRESS("ProcessServerMessages", format, static_cast<int>(notice.status),
                 quote_ansi_string(notice.text ? text.c_str() : nullptr));
    post_progress_text(PREPROCESSING_FAILED);
    return Outcome::SESSION_OVER;
}

Outcome handle_message(const PacketHeader &header, Body body) {
    uint16_t code = header.action;
    uint32_t req_id = header.req_id;
    size_t length = header.length;
    int minimum = minimum_body_length(code);
    if (minimum > 0 && (!body || length < static_cast<size_t>(minimum)))
        return Outcome::GO_ON;
    switch (code) {
    case ACTION_START_PRINT:
        return handle_start_print(std::move(body), req_id);
    case ACTION_PAGE_FILENAME:
        return from_handler(HandlePageFilename(body.get(), length, req_id));
    case ACTION_SET_VALUE:
        return from_handler(HandleSetValue(req_id));
    case ACTION_DOCUMENT_PROPERTIES:
        return from_handler(HandleDocumentProperties(body.get(), length, req_id));
    case ACTION_DEVICE_PROPERTIES:
        return from_handler(HandleDeviceProperties(body.get(), length, req_id));
    case ACTION_END_JOB:
        return from_handler(HandleEndJob(read_be32(body.get()), req_id));
    case ACTION_SHUTDOWN:
        return from_handler(HandleShutdown(req_id));
    case ACTION_GET_PRINT_PAGE:
        return from_handler(HandleGetPrintPage(body.get(), length, req_id));
    case NOTIFY_HEARTBEAT:
        LOG_PROGRESS("ProcessServerMessages", "%sheartbeat\n");
        return Outcome::GO_ON;
    case NOTIFY_PRINT_DONE:
    case NOTIFY_CANCEL_PRINT_DONE:
        return handle_notice(code, body.get(), length);
    default:
        send_reply(reply_code(code), req_id, STATUS_REFUSED, "Action not implemented");
        return Outcome::GO_ON;
    }
}

void report_user_cancel() {
    unsigned char body[4];
    write_be32(body, current_job_id.load());
    send_packet(MSG_USER_CANCEL, 0, body, sizeof(body));
}

} // namespace

int ProcessServerMessages() {
    for (;;) {
        // A server that does not read its answers is not given more to
        // answer: what the program holds for it stays bounded.
        if (!wait_for_send_room())
            break;
        PacketHeader header;
        unsigned char *received;
        if (!ReceivePacket(&header, &received))
            break;
        LOG_PROGRESS("ProcessServerMessages", "%saction: %x, req_id: %d\n", header.action,
                     static_cast<int>(header.req_id));
        Outcome outcome = handle_message(header, Body(received));
        if (outcome == Outcome::SESSION_OVER)
            break;
        if (outcome == Outcome::HANDLER_ENDED) {
            post_progress_text(PREPROCESSING_FAILED);
            break;
        }
        if (user_cancel_requested.load()) {
            report_user_cancel();
            break;
        }
        if (job_state.load() == JOB_STATE_IDLE)
            close_progress_window();
    }
    close_progress_window();
    release_page_resources();
    release_current_job();
    return 1;
}
