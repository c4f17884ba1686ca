// Actions whose handlers are not built yet are answered like unknown codes.
#include "net/packet.h"
#include "net/send_queue.h"
#include "service/handlers.h"
#include "service/messages.h"

namespace {
int not_implemented(uint16_t action, uint32_t req_id) {
    send_reply(reply_code(action), req_id, STATUS_NOT_IMPLEMENTED, "Action not implemented");
    return 1;
}
} // namespace

int HandleStartPrint(PrintRequest *, uint32_t req_id) {
    return not_implemented(ACTION_START_PRINT, req_id);
}
int HandlePageFilename(const unsigned char *, size_t, uint32_t req_id) {
    return not_implemented(ACTION_PAGE_FILENAME, req_id);
}
int HandleDocumentProperties(const unsigned char *, size_t, uint32_t req_id) {
    return not_implemented(ACTION_DOCUMENT_PROPERTIES, req_id);
}
int HandleDeviceProperties(const unsigned char *, size_t, uint32_t req_id) {
    return not_implemented(ACTION_DEVICE_PROPERTIES, req_id);
}
int HandleShutdown(uint32_t req_id) {
    return not_implemented(ACTION_SHUTDOWN, req_id);
}
