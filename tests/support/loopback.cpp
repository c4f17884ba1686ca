#include "support/loopback.h"

void ensure_winsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

LoopbackServer open_loopback_server() {
    ensure_winsock();
    LoopbackServer server;
    server.listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(server.listener, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    listen(server.listener, 1);
    int length = sizeof(address);
    getsockname(server.listener, reinterpret_cast<sockaddr *>(&address), &length);
    server.port = ntohs(address.sin_port);
    return server;
}

bool accept_peer(LoopbackServer &server) {
    server.peer = accept(server.listener, nullptr, nullptr);
    return server.peer != INVALID_SOCKET;
}

void close_loopback_server(LoopbackServer &server) {
    if (server.peer != INVALID_SOCKET)
        closesocket(server.peer);
    if (server.listener != INVALID_SOCKET)
        closesocket(server.listener);
    server.peer = server.listener = INVALID_SOCKET;
}

bool send_all(SOCKET socket, const std::vector<unsigned char> &data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int count = send(socket, reinterpret_cast<const char *>(data.data()) + sent,
                         static_cast<int>(data.size() - sent), 0);
        if (count <= 0)
            return false;
        sent += count;
    }
    return true;
}

namespace {

bool read_exactly(SOCKET socket, unsigned char *out, size_t n, int timeout_ms) {
    size_t got = 0;
    while (got < n) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &timeout) != 1)
            return false;
        int count = recv(socket, reinterpret_cast<char *>(out) + got, static_cast<int>(n - got), 0);
        if (count <= 0)
            return false;
        got += count;
    }
    return true;
}

} // namespace

uint32_t be32_at(const std::vector<unsigned char> &data, size_t offset) {
    return (uint32_t(data[offset]) << 24) | (uint32_t(data[offset + 1]) << 16) |
           (uint32_t(data[offset + 2]) << 8) | data[offset + 3];
}

std::vector<unsigned char> read_packet(SOCKET socket, int timeout_ms) {
    std::vector<unsigned char> packet(16);
    if (!read_exactly(socket, packet.data(), 16, timeout_ms))
        return {};
    uint32_t length = be32_at(packet, 12);
    packet.resize(20 + size_t(length));
    if (!read_exactly(socket, packet.data() + 16, length + 4, timeout_ms))
        return {};
    return packet;
}

std::vector<unsigned char> test_frame(uint16_t code, uint32_t req_id,
                                      const std::vector<unsigned char> &body) {
    auto put32 = [](std::vector<unsigned char> &out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(v >> shift));
    };
    std::vector<unsigned char> out;
    put32(out, 0xAABB1122);
    out.push_back(0);
    out.push_back(2);
    out.push_back(uint8_t(code >> 8));
    out.push_back(uint8_t(code));
    put32(out, req_id);
    put32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    put32(out, 0xCCDD3344);
    return out;
}
