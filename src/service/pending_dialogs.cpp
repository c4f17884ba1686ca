#include "service/handlers.h"
#include "service/pending_reply.h"

int HandleDocumentProperties(const unsigned char *, size_t, uint32_t req_id) {
    return answer_not_implemented(ACTION_DOCUMENT_PROPERTIES, req_id);
}
int HandleDeviceProperties(const unsigned char *, size_t, uint32_t req_id) {
    return answer_not_implemented(ACTION_DEVICE_PROPERTIES, req_id);
}
int HandleShutdown(uint32_t req_id) { return answer_not_implemented(ACTION_SHUTDOWN, req_id); }
