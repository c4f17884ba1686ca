// What the Wine unit tests share: a loopback server that plays the print
// server for a session run in this process, what a process holds (to see
// what a session leaves behind), files, and the debug channel's output.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

Bytes be32(uint32_t value);
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

// A loopback port that nothing listens on.
int free_port();

// MainLoop run on a thread of this process against a loopback server.
class SessionRun {
  public:
    explicit SessionRun(int receive_buffer = 0); // > 0: SO_RCVBUF of the server's side
    ~SessionRun();
    bool connected() const { return peer != INVALID_SOCKET; }
    bool send_raw(const Bytes &data);
    void send(uint16_t code, uint32_t req_id, const Bytes &body = {});
    // The next packet other than a heartbeat (those are kept in
    // heartbeat_jobs), or one with code 0 after timeout_ms.
    Packet next(int timeout_ms = 20000);
    // Sends a request and returns the next packet, which must be its answer.
    Packet request(uint16_t code, uint32_t req_id, const Bytes &body = {});
    // Whether MainLoop returned within timeout_ms.
    bool ended(int timeout_ms);
    void close_peer();

    std::vector<uint32_t> heartbeat_jobs;
    SOCKET peer = INVALID_SOCKET;

  private:
    SOCKET listener = INVALID_SOCKET;
    HANDLE thread = nullptr;
};

// Kernel handles of this process. The platform's printing keeps files and
// mutexes of its own open across jobs, so sessions that print compare only
// the kinds of handle the program itself makes: threads and events.
struct Holdings {
    int handles, own;
    bool operator==(const Holdings &o) const { return handles == o.handles && own == o.own; }
};
Holdings holdings();
// What the process holds once it equals `expected` or 5 s have passed: the
// platform's worker threads end a while after their last work.
Holdings settled_holdings(const Holdings &expected, bool own_only = false);
std::string describe(const Holdings &h);

// The unix path of a DOS path (Wine's wine_get_unix_file_name); "" if none.
std::string unix_path(const std::wstring &dos_path);
bool write_file(const std::wstring &path, const Bytes &bytes);
// Where the rig's prefix keeps drive C: (the real folder, not Wine's device
// link), followed by `name`.
std::string drive_c_unix_path(const std::string &name);
// The printer the rig installs, or "" when the rig is not running.
std::string rig_printer();
// True when this process can create windows (an X display is reachable).
bool windows_can_be_created();

// Runs `action` with the debug channel's fallbacks configured by PXQ=`pxq`
// and returns what they wrote to standard error.
std::string capture_debug_output(const char *pxq, const std::function<void()> &action);
