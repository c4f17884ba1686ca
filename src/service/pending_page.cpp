#include "service/handlers.h"
#include "service/pending_reply.h"

int HandlePageFilename(const unsigned char *, size_t, uint32_t req_id) {
    return answer_not_implemented(ACTION_PAGE_FILENAME, req_id);
}
