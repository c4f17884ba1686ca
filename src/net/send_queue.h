// The outgoing queue: producers (the main thread and the heartbeat thread)
// frame whole packets and queue copies; the send thread alone writes them to
// the socket, so packets never interleave and leave in queue order.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

struct QueueNode {
    unsigned char *data; // the whole framed packet, owned by the node
    uint32_t size;
    QueueNode *next; // next newer node
};

struct SendQueue {
    QueueNode *head; // oldest
    QueueNode *tail; // newest
};

extern SendQueue send_queue;
extern CRITICAL_SECTION send_queue_lock; // guards head, tail and the links only
extern HANDLE send_queue_event;          // auto-reset; set after every append
extern HANDLE send_thread;
extern std::atomic<bool> send_thread_running;

// Memory held by packets queued and not yet sent (their bytes, nodes and
// allocator bookkeeping), and the most the main thread lets pile up
// for a server that does not read before it stops taking new messages.
extern std::atomic<int64_t> send_queue_bytes;
extern std::atomic<int64_t> send_queue_limit_bytes;

// 0 when its events cannot be made (CreateEventW, replaceable for tests).
int init_send_queue();
extern HANDLE(WINAPI *create_event_call)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
void free_send_queue();
int start_send_thread();
void stop_send_thread();

// Backpressure for the main thread, called before it takes the next message:
// returns 1 at once while the queue holds at most send_queue_limit_bytes,
// else waits for the send thread to bring it down. 0 when the server has
// read nothing for receive_timeout_ms: the session should end.
int wait_for_send_room();

int enqueue_packet(const unsigned char *packet, uint32_t size);
QueueNode *dequeue_packet();
void free_queue_node(QueueNode *node);

// Each returns 1 when the packet was queued, 0 when memory ran out.
int send_packet(uint16_t code, uint32_t req_id, const void *body, uint32_t body_length);
int send_reply(uint16_t code, uint32_t req_id, uint32_t status, const char *text);
int send_job_result(uint32_t status, const char *text);

DWORD WINAPI SendThreadProc(LPVOID parameter);
