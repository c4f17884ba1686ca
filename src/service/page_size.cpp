// Action 8: the printable size of the current job's page, in device pixels.
#include "diag/log_line.h"
#include "base/byte_order.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "service/messages.h"

int HandleGetPrintPage(const unsigned char *body, size_t length, uint32_t req_id) {
    if (!body)
        return 0;
    uint32_t status = STATUS_OK;
    if (length < 4) {
        // Too short to name a job: answered as an invalid request, with the
        // sizes as always, and nothing read past the body.
        status = STATUS_INVALID;
    } else if (uint32_t job_id = read_be32(body); job_id != current_job_id.load()) {
        LOG_PROGRESS("HandleGetPrintPage", "%sjob_id: %d, current_job_id: %d\n",
                     static_cast<int>(job_id), static_cast<int>(current_job_id.load()));
        status = STATUS_OTHER_JOB;
    }
    if (!page_size_fits_answer(page_width, page_height))
        ERR_ON(dbch_printproxy, "HandleGetPrintPage", "page of %d x %d pixels does not fit\n",
               page_width, page_height);
    unsigned char answer[PAGE_SIZE_ANSWER_SIZE];
    build_page_size_answer(answer, status, page_width, page_height);
    send_packet(reply_code(ACTION_GET_PRINT_PAGE), req_id, answer, sizeof(answer));
    LOG_PROGRESS("HandleGetPrintPage", "%ssend page_size: %d, %d\n", page_width, page_height);
    return 1;
}
