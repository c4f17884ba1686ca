#include "net/connection.h"

#include <cstdlib>

#include "diag/log_line.h"
#include "net/byte_order.h"
#include "net/send_queue.h"
#include "net/timing.h"
#include "service/job_state.h"

SOCKET server_socket = INVALID_SOCKET;
int connected;

int ConnectToServer(int port) {
    server_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (server_socket == INVALID_SOCKET)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(server_socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        ERR_ON(dbch_printproxy, "ConnectToServer", "connect to 127.0.0.1:%d failed: %d\n", port,
               WSAGetLastError());
        closesocket(server_socket);
        server_socket = INVALID_SOCKET;
        return 0;
    }
    connected = 1;
    return 1;
}

void close_server_socket() {
    closesocket(server_socket);
    server_socket = INVALID_SOCKET;
    connected = 0;
    job_state = JOB_STATE_IDLE;
}

void shutdown_server_socket() {
    if (server_socket != INVALID_SOCKET) {
        shutdown(server_socket, SD_BOTH);
        CancelIoEx(reinterpret_cast<HANDLE>(server_socket), nullptr);
    }
}

int receive_with_timeout(SOCKET socket, char *buffer, int n, int timeout_ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int ready = select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR)
        return RECEIVE_ERROR;
    if (ready == 0)
        return RECEIVE_TIMEOUT;
    if (!FD_ISSET(socket, &readable))
        return RECEIVE_ERROR;
    return recv(socket, buffer, n, 0);
}

int receive_exact(SOCKET socket, char *buffer, int n, int timeout_ms) {
    int total = 0;
    while (total < n) {
        int count = receive_with_timeout(socket, buffer + total, n - total, timeout_ms);
        if (count == RECEIVE_TIMEOUT)
            return RECEIVE_TIMEOUT;
        if (count == 0)
            return RECEIVE_CLOSED;
        if (count < 0)
            return RECEIVE_ERROR;
        total += count;
    }
    return RECEIVE_OK;
}

namespace {

uint32_t status_of(int receive_result) {
    return receive_result == RECEIVE_TIMEOUT ? RECEIVE_TIMED_OUT : RECEIVE_FAILED;
}

int report_failure(uint32_t status) {
    LOG_PROGRESS("ReceivePacket", "%sreceive failed: %d", static_cast<int>(status));
    send_reply(MSG_RECEIVE_FAILED, 0, status, nullptr);
    return 0;
}

// Reads body and trailer into one buffer, checks the trailer, and trims the
// buffer to the body so nothing can be read past it.
uint32_t receive_body(uint32_t length, unsigned char **body) {
    if (uint32_t status = check_body_length(length))
        return status;
    auto *buffer = static_cast<unsigned char *>(malloc(length + PACKET_TRAILER_SIZE));
    if (!buffer)
        return RECEIVE_NO_MEMORY;
    int result =
        receive_exact(server_socket, reinterpret_cast<char *>(buffer),
                      static_cast<int>(length + PACKET_TRAILER_SIZE), receive_timeout_ms.load());
    if (result != RECEIVE_OK) {
        free(buffer);
        return status_of(result);
    }
    if (read_be32(buffer + length) != PACKET_TRAILER) {
        free(buffer);
        return RECEIVE_BAD_FRAME;
    }
    if (length == 0) {
        free(buffer);
        return 0;
    }
    unsigned char *trimmed = static_cast<unsigned char *>(realloc(buffer, length));
    *body = trimmed ? trimmed : buffer;
    return 0;
}

} // namespace

int ReceivePacket(PacketHeader *header, unsigned char **body) {
    *body = nullptr;
    unsigned char wire[PACKET_HEADER_SIZE];
    int result = receive_exact(server_socket, reinterpret_cast<char *>(wire), sizeof(wire),
                               receive_timeout_ms.load());
    if (result != RECEIVE_OK)
        return report_failure(status_of(result));
    *header = decode_packet_header(wire);
    if (uint32_t status = check_packet_header(*header))
        return report_failure(status);
    if (uint32_t status = receive_body(header->length, body))
        return report_failure(status);
    return 1;
}
