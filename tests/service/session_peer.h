// The server's side of a session run in this process: MainLoop on a thread of
// its own, connected to the test's loopback listener; and the handles the
// process holds, compared before and after a session.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/session.h"
#include "support/rig.h"

using Bytes = std::vector<unsigned char>;

inline Bytes be32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

inline uint32_t be32_at(const Bytes &data, size_t at) {
    return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 |
           data[at + 3];
}

// A packet framed by the test itself, independently of the program's code.
inline Bytes test_frame(uint16_t code, uint32_t req_id, const Bytes &body) {
    Bytes out;
    for (Bytes part : {be32(0xAABB1122), Bytes{0, 2, uint8_t(code >> 8), uint8_t(code)},
                       be32(req_id), be32(uint32_t(body.size())), body, be32(0xCCDD3344)})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Packet {
    uint16_t code = 0; // 0: none arrived
    uint32_t req_id = 0;
    Bytes body;
    uint32_t status() const { return body.size() >= 4 ? be32_at(body, 0) : 0xFFFFFFFF; }
    std::string text() const {
        if (body.size() < 8 || be32_at(body, 4) != body.size() - 8)
            return "(not a reply body)";
        return std::string(body.begin() + 8, body.end());
    }
};

inline bool readable(SOCKET socket, int timeout_ms) {
    fd_set set = {1, {socket}}; // Winsock's: a count, then the sockets
    timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

inline bool read_exactly(SOCKET socket, unsigned char *out, size_t n, int timeout_ms) {
    for (size_t got = 0; got < n;) {
        int count = readable(socket, timeout_ms)
                        ? recv(socket, reinterpret_cast<char *>(out) + got, int(n - got), 0)
                        : 0;
        if (count <= 0)
            return false;
        got += count;
    }
    return true;
}

// Listens on a free loopback port; `receive_buffer` > 0: the SO_RCVBUF that
// the accepted connection inherits.
inline SOCKET loopback_listener(int *port, int receive_buffer = 0) {
    static WSADATA winsock;
    [[maybe_unused]] static int started = WSAStartup(MAKEWORD(2, 2), &winsock);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0)
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&receive_buffer),
                   sizeof(receive_buffer));
    sockaddr_in address = {AF_INET, 0, {}, {}};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    listen(listener, 1);
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    *port = ntohs(address.sin_port);
    return listener;
}

struct SessionRun {
    explicit SessionRun(int receive_buffer = 0) {
        int port = 0;
        listener = loopback_listener(&port, receive_buffer);
        auto run = [](LPVOID port) -> DWORD { return MainLoop(int(INT_PTR(port))); };
        thread = CreateThread(nullptr, 0, run, LPVOID(INT_PTR(port)), 0, nullptr);
        if (readable(listener, WAIT_LIMIT_MS))
            peer = accept(listener, nullptr, nullptr);
    }
    // A session that does not end would leave this process hanging in a later
    // test: the run stops here, saying why.
    ~SessionRun() {
        close_peer();
        closesocket(listener);
        if (!ended(WAIT_LIMIT_MS))
            die("the session did not end within 30 s of the server closing");
        CloseHandle(thread);
    }
    bool send_raw(const Bytes &data) { // a blocking send sends everything or fails
        auto size = int(data.size());
        return ::send(peer, reinterpret_cast<const char *>(data.data()), size, 0) == size;
    }
    void send(uint16_t code, uint32_t req_id, const Bytes &body = {}) {
        send_raw(test_frame(code, req_id, body));
    }
    // The next packet but heartbeats (kept in heartbeat_jobs); code 0: none
    // came. After one wait in vain the session is stuck: waits would add up.
    Packet next(int timeout_ms = WAIT_LIMIT_MS) {
        for (;;) {
            Bytes header(16);
            if (stuck || !read_exactly(peer, header.data(), 16, timeout_ms)) {
                stuck = true;
                return {};
            }
            Packet packet = {uint16_t(header[6] << 8 | header[7]), be32_at(header, 8),
                             Bytes(be32_at(header, 12) + 4)};
            if (!read_exactly(peer, packet.body.data(), packet.body.size(), timeout_ms))
                return {};
            packet.body.resize(packet.body.size() - 4);
            if (packet.code != 0x2002)
                return packet;
            heartbeat_jobs.push_back(be32_at(packet.body, 0));
        }
    }
    // Sends a request; the next packet must be its answer.
    Packet request(uint16_t code, uint32_t req_id, const Bytes &body = {}) {
        send(code, req_id, body);
        Packet answer = next();
        EXPECT_EQ(answer.code, uint16_t(0x1000 + code)) << "answer to action " << code;
        EXPECT_EQ(answer.req_id, req_id) << "answer to action " << code;
        return answer;
    }
    bool ended(int timeout_ms) { return WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0; }
    void close_peer() { closesocket(std::exchange(peer, INVALID_SOCKET)); } // twice is harmless

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

// Wine's GetProcessHandleCount answers 0: the handle values are probed.
inline Holdings holdings() {
    using Query = LONG(WINAPI *)(HANDLE, int, PVOID, ULONG, PULONG);
    static auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    Holdings h = {0, 0};
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        DWORD flags;
        ULONG_PTR info[128] = {};
        const int TYPE_INFORMATION = 2;
        if (!GetHandleInformation(HANDLE(value), &flags) ||
            query(HANDLE(value), TYPE_INFORMATION, info, sizeof(info), nullptr) != 0)
            continue;
        auto *name = reinterpret_cast<const UNICODE_STRING *>(info);
        std::wstring type(name->Buffer, name->Length / sizeof(wchar_t));
        ++h.handles;
        h.own += type == L"Thread" || type == L"Event";
    }
    return h;
}

// What the process holds once it equals `expected` or 15 s have passed: the
// platform's worker threads end a while after their last work.
inline Holdings settled_holdings(const Holdings &expected, bool own_only = false) {
    Holdings now = holdings();
    for (int wait = 0; wait < 150 && (own_only ? now.own != expected.own : now != expected);
         ++wait) {
        Sleep(100);
        now = holdings();
    }
    return now;
}
