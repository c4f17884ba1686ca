// Answers an action whose handler is not built yet like an unknown code.
#pragma once

#include "net/packet.h"
#include "net/send_queue.h"
#include "service/messages.h"

inline int answer_not_implemented(uint16_t action, uint32_t req_id) {
    send_reply(reply_code(action), req_id, STATUS_NOT_IMPLEMENTED, "Action not implemented");
    return 1;
}
