#include "net/send_queue.h"

#include <winsock2.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "diag/log_line.h"
#include "net/connection.h"
#include "net/packet.h"
#include "net/timing.h"
#include "base/heap_ptr.h"

SendQueue send_queue;
CRITICAL_SECTION send_queue_lock;
HANDLE send_queue_event;
HANDLE send_thread;
std::atomic<bool> send_thread_running;
std::atomic<int64_t> send_queue_bytes;
std::atomic<int64_t> send_queue_limit_bytes{4 << 20};
HANDLE(WINAPI *create_event_call)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) = CreateEventW;

namespace {

// What a queued packet holds in memory: its bytes, its node and the C
// allocator's bookkeeping of both. Most answers are about 30 bytes, so the
// bookkeeping is most of what a server that does not read makes us hold.
constexpr int64_t ALLOCATION_OVERHEAD = 32;

// Longest sleep of the send thread between looks at its stop flag.
constexpr DWORD SEND_WAIT_MS = 30000;

int64_t memory_cost(uint32_t size) {
    return int64_t(size) + int64_t(sizeof(QueueNode)) + 2 * ALLOCATION_OVERHEAD;
}

// Set when a stopping thread has had its grace period, or when a send has
// failed: what is still queued is dropped instead of sent.
std::atomic<bool> send_abandoned;

// Auto-reset; set by the send thread after every packet it has finished
// with, so that a main thread waiting for room sees progress.
HANDLE send_progress_event;

using HeapBytes = HeapPtr<unsigned char>;

HeapBytes allocate(size_t size) {
    return HeapBytes(static_cast<unsigned char *>(malloc(size)));
}

uint32_t send_node(const QueueNode *node) {
    uint32_t sent = 0;
    while (!send_abandoned.load() && sent < node->size) {
        int count = send(server_socket, reinterpret_cast<const char *>(node->data) + sent,
                         static_cast<int>(node->size - sent), 0);
        // A blocking stream socket whose send fails is broken for good: every
        // later send would fail too, one round trip to the Wine server each,
        // and a full queue of them would hold up the end of the session.
        if (count == SOCKET_ERROR) {
            send_abandoned = true;
            break;
        }
        sent += static_cast<uint32_t>(count);
    }
    return sent;
}

void drain_queue() {
    while (QueueNode *node = dequeue_packet()) {
        uint32_t sent = send_node(node);
        LOG_PROGRESS("SendThreadProc", "%sSendThreadProc: %d bytes sent\n", static_cast<int>(sent));
        // Only a main thread waiting for room needs to hear of progress, and
        // it waits only while the queue is over its limit.
        bool room_awaited =
            send_queue_bytes.fetch_sub(memory_cost(node->size)) > send_queue_limit_bytes.load();
        free_queue_node(node);
        if (room_awaited)
            SetEvent(send_progress_event);
    }
}

bool queue_empty() {
    EnterCriticalSection(&send_queue_lock);
    bool empty = send_queue.head == nullptr;
    LeaveCriticalSection(&send_queue_lock);
    return empty;
}

} // namespace

int init_send_queue() {
    InitializeCriticalSection(&send_queue_lock);
    send_queue.head = send_queue.tail = nullptr;
    send_queue_bytes = 0;
    send_queue_event = create_event_call(nullptr, FALSE, FALSE, nullptr);
    send_progress_event = create_event_call(nullptr, FALSE, FALSE, nullptr);
    return send_queue_event && send_progress_event;
}

void free_send_queue() {
    EnterCriticalSection(&send_queue_lock);
    QueueNode *node = send_queue.head;
    while (node) {
        QueueNode *next = node->next;
        free_queue_node(node);
        node = next;
    }
    send_queue.head = send_queue.tail = nullptr;
    LeaveCriticalSection(&send_queue_lock);
    send_queue_bytes = 0;
    for (HANDLE *event : {&send_queue_event, &send_progress_event}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
    DeleteCriticalSection(&send_queue_lock);
}

int start_send_thread() {
    send_abandoned = false;
    send_thread_running = true;
    send_thread = CreateThread(nullptr, 0, SendThreadProc, nullptr, 0, nullptr);
    return send_thread != nullptr;
}

// What was queued before the stop still goes out: the last packets of a
// session (a final reply, the cancel or failure report) are the ones the
// server waits for. A server that does not read gets a grace period, then
// the connection is shut down so that a blocked send returns.
void stop_send_thread() {
    send_thread_running = false;
    SetEvent(send_queue_event);
    if (!send_thread)
        return;
    if (WaitForSingleObject(send_thread, send_drain_grace_ms.load()) == WAIT_TIMEOUT) {
        send_abandoned = true;
        shutdown_server_socket();
        WaitForSingleObject(send_thread, INFINITE);
    }
    CloseHandle(send_thread);
    send_thread = nullptr;
}

int enqueue_packet(const unsigned char *packet, uint32_t size) {
    HeapPtr<QueueNode> node(static_cast<QueueNode *>(malloc(sizeof(QueueNode))));
    HeapBytes data = allocate(size);
    if (!node || !data)
        return 0;
    memcpy(data.get(), packet, size);
    QueueNode *linked = node.release();
    *linked = QueueNode{data.release(), size, nullptr};
    EnterCriticalSection(&send_queue_lock);
    if (send_queue.tail)
        send_queue.tail->next = linked;
    else
        send_queue.head = linked;
    send_queue.tail = linked;
    send_queue_bytes += memory_cost(size);
    LeaveCriticalSection(&send_queue_lock);
    SetEvent(send_queue_event);
    return 1;
}

QueueNode *dequeue_packet() {
    EnterCriticalSection(&send_queue_lock);
    QueueNode *node = send_queue.head;
    if (node) {
        send_queue.head = node->next;
        if (!send_queue.head)
            send_queue.tail = nullptr;
        node->next = nullptr;
    }
    LeaveCriticalSection(&send_queue_lock);
    return node;
}

void free_queue_node(QueueNode *node) {
    if (!node)
        return;
    free(node->data);
    free(node);
}

int wait_for_send_room() {
    while (send_queue_bytes.load() > send_queue_limit_bytes.load()) {
        if (WaitForSingleObject(send_progress_event, receive_timeout_ms.load()) != WAIT_OBJECT_0) {
            ERR_ON(dbch_printproxy, "wait_for_send_room",
                   "server read nothing for %d ms, %lld bytes queued\n", receive_timeout_ms.load(),
                   static_cast<long long>(send_queue_bytes.load()));
            return 0;
        }
    }
    return 1;
}

int send_packet(uint16_t code, uint32_t req_id, const void *body, uint32_t body_length) {
    uint32_t size = body_length + PACKET_OVERHEAD;
    HeapBytes packet = allocate(size);
    if (!packet)
        return 0;
    frame_packet(packet.get(), code, req_id, body, body_length);
    return enqueue_packet(packet.get(), size);
}

int send_reply(uint16_t code, uint32_t req_id, uint32_t status, const char *text) {
    uint32_t text_length = text ? static_cast<uint32_t>(strlen(text)) : 0;
    HeapBytes body = allocate(text_length + 8);
    if (!body)
        return 0;
    build_reply_body(body.get(), status, text, text_length);
    return send_packet(code, req_id, body.get(), text_length + 8);
}

int send_job_result(uint32_t status, const char *text) {
    return send_reply(MSG_JOB_RESULT, 0, status, text);
}

DWORD WINAPI SendThreadProc(LPVOID) {
    for (;;) {
        WaitForSingleObject(send_queue_event, SEND_WAIT_MS);
        drain_queue();
        if (!send_thread_running.load() && queue_empty())
            break;
    }
    return 0;
}
