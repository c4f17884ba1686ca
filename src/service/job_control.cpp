// Actions that control the session rather than print: the value notice and
// the end of a job.
#include "base/job_state.h"
#include "net/heartbeat.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "printer/doc_start.h"
#include "service/handlers.h"
#include "service/messages.h"
#include "service/page_intake.h"
#include "ui/progress_window.h"

int HandleSetValue(uint32_t req_id) {
    send_reply(reply_code(ACTION_SET_VALUE), req_id, STATUS_OK, "OK");
    return 1;
}

// The job ends here and now: its document is abandoned and its window
// closed, so that a page arriving later finds no document. The next job
// counts its pages from zero when it is accepted.
int HandleEndJob(uint32_t, uint32_t req_id) {
    stop_heartbeat_timer();
    abandon_document();
    release_page_resources();
    close_progress_window();
    join_progress_thread();
    send_reply(reply_code(ACTION_END_JOB), req_id, STATUS_OK, "OK");
    return 1;
}
