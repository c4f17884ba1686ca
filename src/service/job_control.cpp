// Actions that control the session rather than print: the value notice and
// the end of a job.
#include "net/heartbeat.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "service/handlers.h"
#include "service/messages.h"

int HandleSetValue(uint32_t req_id) {
    send_reply(reply_code(ACTION_SET_VALUE), req_id, STATUS_OK, "OK");
    return 1;
}

// The document and the progress window are left as they are; the dispatcher
// closes the window when it finds the job idle after this message.
int HandleEndJob(uint32_t, uint32_t req_id) {
    stop_heartbeat_timer();
    send_reply(reply_code(ACTION_END_JOB), req_id, STATUS_OK, "OK");
    return 1;
}
