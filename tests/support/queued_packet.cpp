#include "support/queued_packet.h"

#include "base/byte_order.h"
#include "net/send_queue.h"

QueuedPacket take_queued(bool keep_heartbeats) {
    while (QueueNode *node = dequeue_packet()) {
        QueuedPacket packet;
        packet.code = read_be16(node->data + 6);
        packet.req_id = read_be32(node->data + 8);
        packet.body.assign(node->data + 16, node->data + node->size - 4);
        free_queue_node(node);
        const auto &body = packet.body;
        if (body.size() >= 8 && body.size() - 8 == read_be32(body.data() + 4)) {
            packet.status = read_be32(body.data());
            packet.text.assign(body.begin() + 8, body.end());
        }
        if (keep_heartbeats || packet.code != 0x2002)
            return packet;
    }
    return {};
}
