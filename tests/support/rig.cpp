#include "support/rig.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <utility>

#include <gtest/gtest.h>

#include "app/session.h"
#include "base/job_state.h"
#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"

namespace {

bool readable(SOCKET socket, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

bool read_exactly(SOCKET socket, unsigned char *out, size_t n, int timeout_ms) {
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

SOCKET loopback_listener(int *port, int receive_buffer) {
    static WSADATA winsock;
    static int started = WSAStartup(MAKEWORD(2, 2), &winsock);
    (void)started;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0)
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&receive_buffer),
                   sizeof(receive_buffer));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    listen(listener, 1);
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    *port = ntohs(address.sin_port);
    return listener;
}

DWORD WINAPI run_main_loop(LPVOID port) {
    return MainLoop(int(reinterpret_cast<INT_PTR>(port)));
}

} // namespace

uint32_t be32_at(const Bytes &data, size_t offset) {
    return (uint32_t(data[offset]) << 24) | (uint32_t(data[offset + 1]) << 16) |
           (uint32_t(data[offset + 2]) << 8) | data[offset + 3];
}

Bytes test_frame(uint16_t code, uint32_t req_id, const Bytes &body) {
    Bytes out;
    for (Bytes part : {be32(0xAABB1122), Bytes{0, 2, uint8_t(code >> 8), uint8_t(code)},
                       be32(req_id), be32(uint32_t(body.size())), body, be32(0xCCDD3344)})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::string Packet::text() const {
    if (body.size() < 8 || be32_at(body, 4) != body.size() - 8)
        return "(not a reply body)";
    return std::string(body.begin() + 8, body.end());
}

int free_port() {
    int port = 0;
    closesocket(loopback_listener(&port, 0));
    return port;
}

SessionRun::SessionRun(int receive_buffer) {
    int port = 0;
    listener = loopback_listener(&port, receive_buffer);
    thread = CreateThread(nullptr, 0, run_main_loop, reinterpret_cast<LPVOID>(INT_PTR(port)), 0,
                          nullptr);
    if (readable(listener, WAIT_LIMIT_MS))
        peer = accept(listener, nullptr, nullptr);
}

// A session that does not end would leave this process hanging in a later
// test: the run stops here, saying why.
SessionRun::~SessionRun() {
    close_peer();
    closesocket(listener);
    if (!ended(WAIT_LIMIT_MS))
        die("the session did not end within 30 s of the server closing");
    CloseHandle(thread);
}

void SessionRun::close_peer() {
    closesocket(std::exchange(peer, INVALID_SOCKET)); // a second close fails harmlessly
}

bool SessionRun::send_raw(const Bytes &data) {
    for (size_t sent = 0; sent < data.size();) {
        int count = ::send(peer, reinterpret_cast<const char *>(data.data()) + sent,
                           int(data.size() - sent), 0);
        if (count <= 0)
            return false;
        sent += count;
    }
    return true;
}

// After one wait in vain the session is taken for stuck: later waits would
// only add up.
Packet SessionRun::next(int timeout_ms) {
    for (;;) {
        Bytes header(16);
        if (stuck || !read_exactly(peer, header.data(), 16, timeout_ms)) {
            stuck = true;
            return {};
        }
        Packet packet;
        packet.code = uint16_t((header[6] << 8) | header[7]);
        packet.req_id = be32_at(header, 8);
        packet.body.resize(be32_at(header, 12) + 4);
        if (!read_exactly(peer, packet.body.data(), packet.body.size(), timeout_ms))
            return {};
        packet.body.resize(packet.body.size() - 4);
        if (packet.code != 0x2002)
            return packet;
        heartbeat_jobs.push_back(be32_at(packet.body, 0));
    }
}

Packet SessionRun::request(uint16_t code, uint32_t req_id, const Bytes &body) {
    send(code, req_id, body);
    Packet answer = next();
    EXPECT_EQ(answer.code, uint16_t(0x1000 + code)) << "answer to action " << code;
    EXPECT_EQ(answer.req_id, req_id) << "answer to action " << code;
    return answer;
}

// Wine's GetProcessHandleCount answers 0: the handle values are probed.
Holdings holdings() {
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

Holdings settled_holdings(const Holdings &expected, bool own_only) {
    Holdings now = holdings();
    for (int wait = 0; wait < 150 && (own_only ? now.own != expected.own : now != expected);
         ++wait) {
        Sleep(100);
        now = holdings();
    }
    return now;
}

bool windows_can_be_created() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
    return probe && DestroyWindow(probe);
}

HWND published_progress_window() {
    HWND window = nullptr;
    if (!windows_can_be_created())
        return nullptr;
    for (int i = 0; i < WAIT_LIMIT_MS / 10 && !(window = progress_window.load()); ++i)
        Sleep(10);
    return window;
}

std::wstring control_text(HWND window, const wchar_t *control_class, const wchar_t *expected) {
    wchar_t text[128] = L"";
    for (int i = 0; i < WAIT_LIMIT_MS / 10; ++i, Sleep(10)) {
        GetWindowTextW(FindWindowExW(window, nullptr, control_class, nullptr), text, 128);
        if (wcscmp(text, expected) == 0)
            break;
    }
    return text;
}

namespace {

// While output is captured: the process's own standard error, and the file
// that stands in for it.
int real_stderr = -1;
FILE *capture_sink;

// Standard error is a text stream: read back in text mode, its CR LF line
// ends are single line feeds again.
std::string read_back(FILE *sink) {
    std::string text;
    rewind(sink);
    _setmode(_fileno(sink), _O_TEXT);
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), sink)) > 0;)
        text.append(chunk, n);
    return text;
}

// Unresolved again, so that the next message of each class asks the
// fallbacks about the new configuration.
void reconfigure(const char *pxq) {
    _putenv_s("PXQ", pxq ? pxq : "");
    fallback_reset_configuration();
    dbch_printer.flags = dbch_printproxy.flags = 0xFF;
}

} // namespace

// What a capture holds would die with the process: it goes to the real
// standard error first, then the reason.
void die(const char *reason) {
    fflush(stderr);
    if (real_stderr >= 0) {
        _dup2(real_stderr, _fileno(stderr));
        fprintf(stderr, "--- captured debug output so far:\n%s---\n",
                read_back(capture_sink).c_str());
    }
    fprintf(stderr, "FATAL: %s\n", reason);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    abort();
}

std::string capture_debug_output(const char *pxq, const std::function<void()> &action) {
    debug_use_fallback_primitives();
    reconfigure(pxq);
    FILE *sink = tmpfile();
    if (!sink)
        return "(no temporary file)";
    fflush(stderr);
    real_stderr = _dup(_fileno(stderr));
    capture_sink = sink;
    _dup2(_fileno(sink), _fileno(stderr));
    action();
    fflush(stderr);
    _dup2(real_stderr, _fileno(stderr));
    _close(real_stderr);
    real_stderr = -1;
    reconfigure(nullptr);
    std::string text = read_back(sink);
    fclose(sink);
    return text;
}

// The entry of every Windows test program: a process that dies of an
// exception or an abort leaves its cause in the output rather than in a
// buffer, a capture's file or a debugger's dialog that nobody closes.
int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS *exception) -> LONG {
        char reason[160];
        snprintf(reason, sizeof(reason), "unhandled exception %08lx at %p on thread %04lx",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                 exception->ExceptionRecord->ExceptionAddress,
                 static_cast<unsigned long>(GetCurrentThreadId()));
        die(reason);
    });
    signal(SIGABRT,
           [](int) { die("abort (an uncaught C++ exception or a failed runtime check)"); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
