#include "service/handlers.h"
#include "service/pending_reply.h"

int HandleStartPrint(PrintRequest *, uint32_t req_id) {
    return answer_not_implemented(ACTION_START_PRINT, req_id);
}
