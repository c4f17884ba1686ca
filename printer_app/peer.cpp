#include "peer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "fd_io.h"
#include "loopback.h"
#include "net/packet.h"

namespace {

// The program's own packets are a few hundred bytes; anything near this is
// no packet of its.
constexpr uint32_t MAX_ANSWER_BODY = 1u << 20;

// What of the program's standard error is kept: Wine's reason for a start
// that failed comes early, and a long job's output cannot fill memory.
constexpr size_t MAX_STDERR_KEPT = 64 << 10;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A whole packet from the front of the inbox: 1 taken, 0 more bytes
// needed, -1 malformed.
int take_packet(Peer &peer, Packet &packet) {
    if (peer.inbox.size() < PACKET_HEADER_SIZE)
        return 0;
    PacketHeader header = decode_packet_header(peer.inbox.data());
    if (check_packet_header(header) != 0 || header.length > MAX_ANSWER_BODY) {
        peer.error = "the program sent a malformed packet";
        return -1;
    }
    size_t whole = PACKET_OVERHEAD + size_t(header.length);
    if (peer.inbox.size() < whole)
        return 0;
    if (read_be32(peer.inbox.data() + whole - PACKET_TRAILER_SIZE) != PACKET_TRAILER) {
        peer.error = "the program sent a packet with a bad trailer";
        return -1;
    }
    packet.code = header.action;
    packet.req_id = header.req_id;
    auto body = peer.inbox.begin() + PACKET_HEADER_SIZE;
    packet.body.assign(body, body + header.length);
    peer.inbox.erase(peer.inbox.begin(), peer.inbox.begin() + ptrdiff_t(whole));
    return 1;
}

// Reads what has arrived, waiting at most wait_ms: 1 bytes read, 0 nothing
// yet, -1 the connection ended.
int receive_some(Peer &peer, int wait_ms) {
    pollfd fd = {peer.conn, POLLIN, 0};
    int ready = poll(&fd, 1, wait_ms < 0 ? 0 : wait_ms);
    if (ready < 0 && errno == EINTR)
        return 0;
    if (ready <= 0)
        return ready;
    unsigned char chunk[65536];
    ssize_t got = recv(peer.conn, chunk, sizeof chunk, 0);
    if (got <= 0) {
        peer.error = got == 0 ? "the program closed the connection"
                              : std::string("receiving failed: ") + strerror(errno);
        peer.ended = true;
        return -1;
    }
    peer.inbox.insert(peer.inbox.end(), chunk, chunk + got);
    return 1;
}

bool owned_by_us(int fd) {
    std::optional<uid_t> uid = peer_uid(fd);
    return uid && *uid == geteuid();
}

// Whether the job wants the wait ended; once it has said so, it is asked no more.
bool stop_asked(Peer &peer) {
    if (!peer.must_stop || !peer.must_stop(peer.stop_context))
        return false;
    peer.must_stop = nullptr;
    peer.error = "the job was stopped";
    return true;
}

} // namespace

bool peer_listen(Peer &peer) {
    peer.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(peer.port);
    int reuse = 1; // a port asked for is taken again at once after a job
    if (peer.listener >= 0 && peer.port)
        setsockopt(peer.listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    socklen_t size = sizeof address;
    // A deep backlog: others' connections must not crowd the program's out.
    if (peer.listener < 0 ||
        bind(peer.listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(peer.listener, 16) != 0 ||
        getsockname(peer.listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        peer.error = std::string("cannot listen on 127.0.0.1: ") + strerror(errno);
        close_fd(peer.listener);
        return false;
    }
    peer.port = ntohs(address.sin_port);
    return true;
}

bool peer_launch(Peer &peer, std::vector<std::string> command, const EnvironmentChanges &env) {
    command.push_back("x");
    command.push_back(std::to_string(peer.port));
    peer.stderr_fd = peer.program_log.empty()
                         ? bounded_memory_file("tavri-program-stderr", MAX_STDERR_KEPT)
                         : open(peer.program_log.c_str(),
                                O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    peer.pid = spawn_child(command, env, -1, peer.stderr_fd, peer.error);
    if (peer.pid <= 0)
        close_fd(peer.stderr_fd);
    return peer.pid > 0;
}

namespace {

bool accept_program(Peer &peer) {
    int64_t deadline = now_ms() + peer.timeouts.connect_ms;
    while (now_ms() < deadline) {
        pollfd fd = {peer.listener, POLLIN, 0};
        if (poll(&fd, 1, 200) > 0) {
            int conn = accept4(peer.listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn >= 0 && owned_by_us(conn)) {
                peer.conn = conn;
                close_fd(peer.listener);
                peer.last_sent_ms = now_ms();
                return true;
            }
            if (conn >= 0) {
                close(conn);
                ++peer.refused;
            }
        }
        if (stop_asked(peer))
            return false;
        int status;
        if (peer.pid > 0 && wait_child(peer.pid, 0, &status)) {
            peer.pid = -1;
            peer.error = "the program exited before connecting: " + describe_wait_status(status);
            return false;
        }
    }
    peer.error = "the program did not connect within " +
                 std::to_string(peer.timeouts.connect_ms / 1000) + " s";
    return false;
}

} // namespace

bool peer_accept(Peer &peer) {
    bool accepted = accept_program(peer);
    if (!accepted) {
        std::string said = last_line_written(peer.stderr_fd);
        if (!said.empty())
            peer.error += ": " + said;
    }
    // What it writes from now on goes on into the bounded file, unread.
    close_fd(peer.stderr_fd);
    return accepted;
}

bool peer_send(Peer &peer, uint16_t code, uint32_t req_id, const void *body, uint32_t length) {
    std::vector<unsigned char> wire(PACKET_OVERHEAD + size_t(length));
    frame_packet(wire.data(), code, req_id, body, length);
    if (!write_all(peer.conn, reinterpret_cast<const char *>(wire.data()), wire.size(), true)) {
        peer.error = std::string("sending failed: ") + strerror(errno);
        peer.ended = true;
        return false;
    }
    peer.last_sent_ms = now_ms();
    return true;
}

bool peer_keep_alive(Peer &peer) {
    if (peer.conn < 0 || peer.ended || now_ms() - peer.last_sent_ms < peer.timeouts.heartbeat_ms)
        return true;
    return peer_send(peer, NOTIFY_HEARTBEAT, 0, nullptr, 0);
}

PeerResult peer_wait_for(Peer &peer, uint16_t code, uint32_t req_id, int timeout_ms,
                         Packet &packet) {
    int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        int taken = take_packet(peer, packet);
        if (taken < 0)
            return PeerResult::FAILED;
        if (taken > 0) {
            if (packet.code == code && packet.req_id == req_id)
                return PeerResult::OK;
            if (packet.code == MSG_USER_CANCEL)
                return PeerResult::USER_CANCELLED;
            if (packet.code == MSG_RECEIVE_FAILED) {
                uint32_t status = 0;
                std::string text;
                parse_reply(packet.body, status, text);
                peer.error =
                    "the program failed to receive a packet: status " + std::to_string(status);
                peer.ended = true;
                return PeerResult::FAILED;
            }
            continue; // its heartbeats, and answers nobody waits for any more
        }
        int64_t now = now_ms();
        if (now >= deadline) {
            peer.error = "no answer from the program in time";
            return PeerResult::TIMED_OUT;
        }
        if (stop_asked(peer))
            return PeerResult::STOPPED;
        if (!peer_keep_alive(peer))
            return PeerResult::FAILED;
        int64_t wake = std::min({deadline, peer.last_sent_ms + peer.timeouts.heartbeat_ms,
                                 now + peer.timeouts.check_ms});
        if (receive_some(peer, int(wake - now)) < 0)
            return PeerResult::FAILED;
    }
}

PeerResult peer_call(Peer &peer, uint16_t action, const void *body, uint32_t length,
                     Packet &answer) {
    uint32_t req_id = peer.next_req_id++;
    if (!peer_send(peer, action, req_id, body, length))
        return PeerResult::FAILED;
    return peer_wait_for(peer, reply_code(action), req_id, peer.timeouts.answer_ms, answer);
}

bool peer_user_cancelled(Peer &peer, int wait_ms) {
    int64_t deadline = now_ms() + wait_ms;
    Packet packet;
    for (;;) {
        int taken = take_packet(peer, packet);
        if (taken < 0)
            return false;
        if (taken > 0) {
            if (packet.code == MSG_USER_CANCEL)
                return true;
            continue;
        }
        int64_t left = deadline - now_ms();
        if (left <= 0 || receive_some(peer, int(left)) <= 0)
            return false;
    }
}

void peer_finish(Peer &peer, uint16_t notice, uint32_t status, const std::string &text) {
    if (peer.conn >= 0 && !peer.ended) {
        std::vector<unsigned char> body(8 + text.size());
        build_reply_body(body.data(), status, text.data(), uint32_t(text.size()));
        peer_send(peer, notice, 0, body.data(), uint32_t(body.size()));
        peer.ended = true;
    }
    close_fd(peer.conn);
    close_fd(peer.listener);
    close_fd(peer.stderr_fd);
    int wait_status;
    if (peer.pid > 0 && !wait_child(peer.pid, peer.timeouts.exit_ms, &wait_status))
        kill_child_group(peer.pid);
    peer.pid = -1;
}

bool parse_reply(const std::vector<unsigned char> &body, uint32_t &status, std::string &text) {
    if (body.size() < 8)
        return false;
    status = read_be32(body.data());
    size_t length = std::min<size_t>(read_be32(body.data() + 4), body.size() - 8);
    text.assign(reinterpret_cast<const char *>(body.data()) + 8, length);
    return true;
}

bool parse_page_size(const std::vector<unsigned char> &body, uint32_t &status, uint16_t &width,
                     uint16_t &height) {
    if (body.size() < 8)
        return false;
    status = uint32_t(body[0]) | uint32_t(body[1]) << 8 | uint32_t(body[2]) << 16 |
             uint32_t(body[3]) << 24;
    width = read_be16(body.data() + 4);
    height = read_be16(body.data() + 6);
    return true;
}
