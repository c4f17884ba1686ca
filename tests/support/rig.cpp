#include "support/rig.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "app/session.h"
#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"

namespace {

void ensure_winsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

bool readable(SOCKET socket, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

bool read_exactly(SOCKET socket, unsigned char *out, size_t n, int timeout_ms) {
    for (size_t got = 0; got < n;) {
        if (!readable(socket, timeout_ms))
            return false;
        int count = recv(socket, reinterpret_cast<char *>(out) + got, int(n - got), 0);
        if (count <= 0)
            return false;
        got += count;
    }
    return true;
}

SOCKET loopback_listener(int *port, int receive_buffer) {
    ensure_winsock();
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

Bytes be32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

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

SessionRun::SessionRun(int receive_buffer) {
    int port = 0;
    listener = loopback_listener(&port, receive_buffer);
    thread = CreateThread(nullptr, 0, run_main_loop, reinterpret_cast<LPVOID>(INT_PTR(port)), 0,
                          nullptr);
    if (readable(listener, 10000))
        peer = accept(listener, nullptr, nullptr);
}

// A session that does not end would leave this process hanging in a later
// test: the run stops here, saying why.
SessionRun::~SessionRun() {
    close_peer();
    closesocket(listener);
    if (!ended(20000)) {
        fprintf(stderr, "FATAL: the session did not end within 20 s of the server closing\n");
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

void SessionRun::close_peer() {
    if (peer != INVALID_SOCKET)
        closesocket(peer);
    peer = INVALID_SOCKET;
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

void SessionRun::send(uint16_t code, uint32_t req_id, const Bytes &body) {
    send_raw(test_frame(code, req_id, body));
}

Packet SessionRun::next(int timeout_ms) {
    for (;;) {
        Bytes header(16);
        if (!read_exactly(peer, header.data(), 16, timeout_ms))
            return {};
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

int free_port() {
    int port = 0;
    closesocket(loopback_listener(&port, 0));
    return port;
}

bool SessionRun::ended(int timeout_ms) {
    return WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
}

namespace {

// Wine's GetProcessHandleCount answers 0; its list of all handles is right.
struct HandleEntry {
    PVOID object;
    ULONG_PTR process_id, value;
    ULONG access;
    USHORT trace_index, type_index;
    ULONG attributes, reserved;
};

std::wstring type_of(HANDLE handle) {
    using Query = LONG(WINAPI *)(HANDLE, int, PVOID, ULONG, PULONG);
    static auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    ULONG_PTR info[128] = {};
    ULONG length = 0;
    const int TYPE_INFORMATION = 2;
    if (!query || query(handle, TYPE_INFORMATION, info, sizeof(info), &length) != 0)
        return L"";
    auto *name = reinterpret_cast<const UNICODE_STRING *>(info);
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

} // namespace

// This process's handles: all of them, and its threads and events.
Holdings holdings() {
    using Query = LONG(WINAPI *)(int, PVOID, ULONG, PULONG);
    static auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    static std::vector<ULONG_PTR> buffer(1 << 19);
    ULONG length = 0;
    const int EXTENDED_HANDLE_INFORMATION = 64;
    Holdings h = {0, 0};
    if (!query || query(EXTENDED_HANDLE_INFORMATION, buffer.data(),
                        ULONG(buffer.size() * sizeof(ULONG_PTR)), &length) != 0)
        return h;
    auto *entries = reinterpret_cast<const HandleEntry *>(buffer.data() + 2);
    for (ULONG_PTR i = 0; i < buffer[0]; ++i) {
        if (entries[i].process_id != GetCurrentProcessId())
            continue;
        ++h.handles;
        std::wstring type = type_of(reinterpret_cast<HANDLE>(entries[i].value));
        h.own += type == L"Thread" || type == L"Event";
    }
    return h;
}

Holdings settled_holdings(const Holdings &expected, bool own_only) {
    Holdings now = holdings();
    for (int wait = 0; wait < 50 && (own_only ? now.own != expected.own : !(now == expected));
         ++wait) {
        Sleep(100);
        now = holdings();
    }
    return now;
}

std::string describe(const Holdings &h) {
    return std::to_string(h.handles) + " handles, " + std::to_string(h.own) +
           " of them threads "
           "and events";
}

std::string unix_path(const std::wstring &dos_path) {
    using ToUnix = char *(CDECL *)(const wchar_t *);
    auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char *path = to_unix ? to_unix(dos_path.c_str()) : nullptr;
    if (!path)
        return "";
    std::string result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

bool write_file(const std::wstring &path, const Bytes &bytes) {
    std::unique_ptr<FILE, decltype(&fclose)> stream(_wfopen(path.c_str(), L"wb"), &fclose);
    return stream && fwrite(bytes.data(), 1, bytes.size(), stream.get()) == bytes.size();
}

std::string drive_c_unix_path(const std::string &name) {
    const char *prefix = getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "(WINEPREFIX unset)") + "/drive_c/" + name;
}

std::string rig_printer() {
    return getenv("PROXY_TEST_PRINTER") ? getenv("PROXY_TEST_PRINTER") : "";
}

bool windows_can_be_created() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
    return probe && DestroyWindow(probe);
}

// Unresolved again, so that the next message of each class asks the
// fallbacks about the new configuration.
static void reconfigure(const char *pxq) {
    _putenv_s("PXQ", pxq ? pxq : "");
    fallback_reset_configuration();
    dbch_printer.flags = dbch_printproxy.flags = 0xFF;
}

// Standard error is a text stream: read back in text mode, its CR LF line
// ends are single line feeds again.
std::string capture_debug_output(const char *pxq, const std::function<void()> &action) {
    debug_use_fallback_primitives();
    reconfigure(pxq);
    FILE *sink = tmpfile();
    if (!sink)
        return "(no temporary file)";
    fflush(stderr);
    int saved_stderr = _dup(_fileno(stderr));
    _dup2(_fileno(sink), _fileno(stderr));
    action();
    fflush(stderr);
    _dup2(saved_stderr, _fileno(stderr));
    _close(saved_stderr);
    reconfigure(nullptr);
    std::string text;
    rewind(sink);
    _setmode(_fileno(sink), _O_TEXT);
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), sink)) > 0;)
        text.append(chunk, n);
    fclose(sink);
    return text;
}
