// Baseline for bench/roundtrip.py: the least a Win32 client under Wine can do
// per request. It connects to 127.0.0.1:PORT as the proxy does and answers
// every packet on the same thread, with one blocking recv and one send,
// with the same 30-byte "OK" reply the proxy gives to action 3.
//   echo_peer.exe PORT
#include <winsock2.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t HEADER_SIZE = 16;
constexpr size_t TRAILER_SIZE = 4;
constexpr size_t REPLY_SIZE = 30;

uint32_t read_be32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// 0x1003, status 0, "OK"; only the request id changes between replies.
void build_ok_reply(unsigned char *reply) {
    // clang-format off
    const unsigned char fixed[REPLY_SIZE] = {
        0xAA, 0xBB, 0x11, 0x22, 0x00, 0x02, 0x10, 0x03, // magic, version, code
        0, 0, 0, 0, 0, 0, 0, 10,                        // request id, body length
        0, 0, 0, 0, 0, 0, 0, 2, 'O', 'K',               // status, text length, text
        0xCC, 0xDD, 0x33, 0x44};                        // trailer
    // clang-format on
    memcpy(reply, fixed, REPLY_SIZE);
}

SOCKET connect_to(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool send_all(SOCKET s, const unsigned char *data, size_t size) {
    while (size > 0) {
        int count = send(s, reinterpret_cast<const char *>(data), static_cast<int>(size), 0);
        if (count <= 0)
            return false;
        data += count;
        size -= static_cast<size_t>(count);
    }
    return true;
}

// Answers every whole packet at the front of `buffer`; returns the bytes used.
size_t answer_packets(SOCKET s, const unsigned char *buffer, size_t filled, unsigned char *reply,
                      bool *ok) {
    size_t used = 0;
    while (filled - used >= HEADER_SIZE) {
        size_t whole = HEADER_SIZE + read_be32(buffer + used + 12) + TRAILER_SIZE;
        if (filled - used < whole)
            break;
        memcpy(reply + 8, buffer + used + 8, 4);
        if (!send_all(s, reply, REPLY_SIZE)) {
            *ok = false;
            break;
        }
        used += whole;
    }
    return used;
}

void serve(SOCKET s) {
    static unsigned char buffer[1 << 16];
    unsigned char reply[REPLY_SIZE];
    build_ok_reply(reply);
    size_t filled = 0;
    bool ok = true;
    while (ok && filled < sizeof(buffer)) {
        int count = recv(s, reinterpret_cast<char *>(buffer + filled),
                         static_cast<int>(sizeof(buffer) - filled), 0);
        if (count <= 0)
            break;
        filled += static_cast<size_t>(count);
        size_t used = answer_packets(s, buffer, filled, reply, &ok);
        memmove(buffer, buffer + used, filled - used);
        filled -= used;
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return 1;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 6;
    SOCKET s = connect_to(atoi(argv[argc - 1]));
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return 3;
    }
    serve(s);
    closesocket(s);
    WSACleanup();
    return 0;
}
