// The server's end of one run of the Windows program: a listening socket on
// 127.0.0.1, the program started under Wine with its port, the one
// connection taken from our own user, and the packets exchanged on it.
// While we wait for an answer, or prepare the next page, our heartbeats
// keep the program's 30-second receive time-out at bay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

#include "child_process.h"

// Periods in milliseconds; tests shorten them.
struct PeerTimeouts {
    int connect_ms = 60000;   // from the start until the program connects
    int answer_ms = 120000;   // for an answer to a request
    int heartbeat_ms = 10000; // our silence before a heartbeat
    int exit_ms = 30000;      // from the session's end until the program exits
    int check_ms = 1000;      // between two questions to must_stop while we wait
};

struct Packet {
    uint16_t code = 0;
    uint32_t req_id = 0;
    std::vector<unsigned char> body;
};

enum class PeerResult {
    OK,
    FAILED,         // the connection failed or carried something malformed
    TIMED_OUT,      // no answer in time
    USER_CANCELLED, // the user cancelled in the program's progress window
    STOPPED,        // must_stop ended the wait
};

struct Peer {
    PeerTimeouts timeouts;
    int listener = -1, conn = -1;
    uint16_t port = 0;                // the one asked for, else 0 until listening: a free one
    pid_t pid = -1;                   // the program's process (and group); -1 when none
    std::vector<unsigned char> inbox; // received bytes not yet taken as packets
    int64_t last_sent_ms = 0;
    uint32_t next_req_id = 1;
    bool ended = false;      // the session's end was sent, or the connection lost
    unsigned refused = 0;    // connections of other users, closed at once
    int stderr_fd = -1;      // the program's standard error until it connects
    std::string program_log; // where its standard error is appended; empty: not kept
    std::string error;       // what went wrong last
    // Asked while we wait for the program: true ends the wait, once, so that
    // a job past its bounds or cancelled need not wait for a slow page or
    // driver. Cleared once it has said so: ending the job may then wait.
    bool (*must_stop)(void *) = nullptr;
    void *stop_context = nullptr;
};

// Listens on 127.0.0.1 at a port the system chooses.
bool peer_listen(Peer &peer);
// Starts the program: `command` with "x" and the port appended.
bool peer_launch(Peer &peer, std::vector<std::string> command, const EnvironmentChanges &env);
// Waits for the program's connection; others' are closed. When it fails, the
// error ends with the last line the program (or Wine) wrote to standard error.
bool peer_accept(Peer &peer);

bool peer_send(Peer &peer, uint16_t code, uint32_t req_id, const void *body, uint32_t length);
// A heartbeat when we have been quiet for a period.
bool peer_keep_alive(Peer &peer);

// Waits for packet `code` with `req_id`; the program's heartbeats are
// skipped, its cancel and reception-failure notices end the wait.
PeerResult peer_wait_for(Peer &peer, uint16_t code, uint32_t req_id, int timeout_ms,
                         Packet &packet);
// Sends a request and waits for its answer (0x1000 + action).
PeerResult peer_call(Peer &peer, uint16_t action, const void *body, uint32_t length,
                     Packet &answer);
// Whether the program says within wait_ms that the user cancelled; nothing
// is sent meanwhile.
bool peer_user_cancelled(Peer &peer, int wait_ms);

// Ends the session with `notice` (print done or cancelled), waits for the
// program to exit and kills its group when it does not. Closes everything.
void peer_finish(Peer &peer, uint16_t notice, uint32_t status, const std::string &text);

// A reply body's status and text; false when the body is too short.
bool parse_reply(const std::vector<unsigned char> &body, uint32_t &status, std::string &text);
// The page-size answer: its status alone is little-endian.
bool parse_page_size(const std::vector<unsigned char> &body, uint32_t &status, uint16_t &width,
                     uint16_t &height);
