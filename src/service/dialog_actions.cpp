// The actions that end the session after their answer: the printer driver's
// two settings dialogs and the shutdown of the desktop session.
#include "service/dialog_actions.h"

#include <cstring>

#include "net/packet.h"
#include "net/send_queue.h"
#include "printer/property_dialogs.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "service/messages.h"

BOOL(WINAPI *request_session_end)(UINT flags, DWORD reason) = ExitWindowsEx;

namespace {

// The body is the printer name. One whose terminator is not inside the body
// is passed on as no name at all, so nothing beyond the body is ever read.
const char *printer_name_of(const unsigned char *body, size_t length) {
    if (!body || !memchr(body, 0, length))
        return nullptr;
    return reinterpret_cast<const char *>(body);
}

// A dialog blocks the dispatcher until the user closes it, and changing the
// printer's defaults under a running job would change its pages: while a
// job runs the request is refused without a dialog. The session ends either
// way, abandoning that job.
int answer_with_dialog(uint16_t action, const unsigned char *body, size_t length, uint32_t req_id,
                       int (*show_dialog)(const char *printer_name)) {
    if (job_active()) {
        send_reply(reply_code(action), req_id, STATUS_DIALOG_DURING_JOB, "Printing in progress");
        return 0;
    }
    int status = show_dialog(printer_name_of(body, length));
    send_reply(reply_code(action), req_id, static_cast<uint32_t>(status), "");
    return 0;
}

} // namespace

int HandleDocumentProperties(const unsigned char *body, size_t length, uint32_t req_id) {
    return answer_with_dialog(ACTION_DOCUMENT_PROPERTIES, body, length, req_id,
                              set_printer_DrvDocumentPropertySheets);
}

int HandleDeviceProperties(const unsigned char *body, size_t length, uint32_t req_id) {
    return answer_with_dialog(ACTION_DEVICE_PROPERTIES, body, length, req_id,
                              set_printer_DrvDevicePropertySheets);
}

// The answer is queued first; the send thread delivers it while the platform
// ends the desktop session, and the session teardown drains what is left.
// Wine leaves processes without windows running, so the program still
// leaves through its own teardown.
int HandleShutdown(uint32_t req_id) {
    send_reply(reply_code(ACTION_SHUTDOWN), req_id, STATUS_OK, "OK");
    request_session_end(EWX_SHUTDOWN, 0);
    return 0;
}
