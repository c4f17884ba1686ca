// A loopback server socket for tests that play the server in-process.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>
#include <vector>

// Starts Winsock once for the test binary.
void ensure_winsock();

struct LoopbackServer {
    SOCKET listener = INVALID_SOCKET;
    SOCKET peer = INVALID_SOCKET;
    int port = 0;
};

// Listens on 127.0.0.1 at a free port.
LoopbackServer open_loopback_server();
// Accepts the program's connection (made with ConnectToServer).
bool accept_peer(LoopbackServer &server);
void close_loopback_server(LoopbackServer &server);

bool send_all(SOCKET socket, const std::vector<unsigned char> &data);
// Reads one whole packet (header, body, trailer) within timeout_ms; empty
// when none arrives.
std::vector<unsigned char> read_packet(SOCKET socket, int timeout_ms);

// A packet framed by the test itself, independently of the program's code.
std::vector<unsigned char> test_frame(uint16_t code, uint32_t req_id,
                                      const std::vector<unsigned char> &body);

uint32_t be32_at(const std::vector<unsigned char> &data, size_t offset);
