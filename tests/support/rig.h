// What the Wine unit tests share: a loopback server for a session run in this
// process, the handles a process holds, the debug channel's output, windows.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Waits end as soon as what they wait for happens; the bound only has to
// outlast a busy machine, where a new Wine prefix's first session also loads
// the font cache and the printer drivers.
constexpr int WAIT_LIMIT_MS = 30000;

inline Bytes be32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}
uint32_t be32_at(const Bytes &data, size_t offset);
// A packet framed by the test itself, independently of the program's code.
Bytes test_frame(uint16_t code, uint32_t req_id, const Bytes &body);

struct Packet {
    uint16_t code = 0; // 0: none arrived
    uint32_t req_id = 0;
    Bytes body;
    uint32_t status() const { return body.size() >= 4 ? be32_at(body, 0) : 0xFFFFFFFF; }
    std::string text() const;
};

int free_port(); // a loopback port that nothing listens on

// MainLoop run on a thread of this process against a loopback server.
struct SessionRun {
    explicit SessionRun(int receive_buffer = 0); // > 0: SO_RCVBUF of the server's side
    ~SessionRun();
    bool send_raw(const Bytes &data);
    void send(uint16_t code, uint32_t req_id, const Bytes &body = {}) {
        send_raw(test_frame(code, req_id, body));
    }
    // The next packet but heartbeats (kept in heartbeat_jobs); code 0: none came.
    Packet next(int timeout_ms = WAIT_LIMIT_MS);
    // Sends a request; the next packet must be its answer.
    Packet request(uint16_t code, uint32_t req_id, const Bytes &body = {});
    bool ended(int timeout_ms) { return WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0; }
    void close_peer();

    std::vector<uint32_t> heartbeat_jobs;
    SOCKET peer = INVALID_SOCKET, listener = INVALID_SOCKET;
    HANDLE thread = nullptr;
    bool stuck = false;
};

// Kernel handles of this process. The platform's printing keeps files and
// mutexes of its own open across jobs, so sessions that print compare only
// the kinds of handle the program itself makes: threads and events.
struct Holdings {
    int handles, own;
    bool operator==(const Holdings &) const = default;
    friend std::ostream &operator<<(std::ostream &out, const Holdings &h) {
        return out << h.handles << " handles, " << h.own << " of them threads and events";
    }
};
Holdings holdings();
// What the process holds once it equals `expected` or 15 s have passed: the
// platform's worker threads end a while after their last work.
Holdings settled_holdings(const Holdings &expected, bool own_only = false);

inline std::string rig_printer() { // "" when the rig is not running
    return getenv("PROXY_TEST_PRINTER") ? getenv("PROXY_TEST_PRINTER") : "";
}
bool windows_can_be_created();
// The progress window once its thread has published it; null when no window
// can be created or none came within the wait limit.
HWND published_progress_window();
// The text of `window`'s first `control_class` child once it reads
// `expected`, else what it reads at the wait limit: posts take time.
std::wstring control_text(HWND window, const wchar_t *control_class, const wchar_t *expected);

// Ends the process with exit status 3 after writing `reason`, and whatever a
// capture in progress holds, to the real standard error.
[[noreturn]] void die(const char *reason);

// Runs `action` with the debug channel's fallbacks configured by PXQ=`pxq`
// and returns what they wrote to standard error.
std::string capture_debug_output(const char *pxq, const std::function<void()> &action);
