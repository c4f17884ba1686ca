#include "net/connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "diag/log_line.h"
#include "base/byte_order.h"
#include "base/heap_ptr.h"
#include "net/send_queue.h"
#include "net/timing.h"
#include "base/job_state.h"

SOCKET server_socket = INVALID_SOCKET;
int connected;

namespace {

// Bytes that arrived beyond what the last read asked for. Reading ahead lets
// one wait and one read bring a small packet whole, header and body, where
// each wait is a round trip to the Wine server.
struct ReadAhead {
    SOCKET socket = INVALID_SOCKET;
    int start = 0;
    int end = 0;
    char data[16384];
};
ReadAhead read_ahead;

void forget_read_ahead(SOCKET socket) {
    read_ahead.socket = socket;
    read_ahead.start = read_ahead.end = 0;
}

int take_read_ahead(SOCKET socket, char *out, int n) {
    if (read_ahead.socket != socket) {
        forget_read_ahead(socket);
        return 0;
    }
    int count = std::min(n, read_ahead.end - read_ahead.start);
    memcpy(out, read_ahead.data + read_ahead.start, count);
    read_ahead.start += count;
    return count;
}

} // namespace

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
    // The last session's close left nothing read ahead, and a read ahead
    // for another socket is never taken (take_read_ahead).
    connected = 1;
    return 1;
}

void close_server_socket() {
    forget_read_ahead(INVALID_SOCKET);
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

namespace {

// Completes an overlapped read that did not finish at once: waits for it up
// to timeout_ms, and on a timeout cancels it (keeping what arrived meanwhile).
// A wake-up before the read is done waits again for the time that is left.
int finish_pending_read(SOCKET socket, WSAOVERLAPPED *overlapped, int timeout_ms) {
    DWORD count = 0, flags = 0;
    DWORD deadline = GetTickCount() + timeout_ms;
    for (;;) {
        DWORD left = deadline - GetTickCount();
        if (static_cast<int>(left) < 0 ||
            WaitForSingleObject(overlapped->hEvent, left) == WAIT_TIMEOUT)
            break;
        if (WSAGetOverlappedResult(socket, overlapped, &count, FALSE, &flags))
            return static_cast<int>(count);
        if (WSAGetLastError() != WSA_IO_INCOMPLETE)
            return RECEIVE_ERROR;
    }
    CancelIoEx(reinterpret_cast<HANDLE>(socket), overlapped);
    if (!WSAGetOverlappedResult(socket, overlapped, &count, TRUE, &flags))
        return RECEIVE_TIMEOUT;
    return static_cast<int>(count);
}

} // namespace

// One wait and one read, as an overlapped read waited for with a timeout: the
// socket stays blocking and carries no options, and a read whose data is
// already there costs a single call instead of a poll and a read.
int receive_with_timeout(SOCKET socket, char *buffer, int n, int timeout_ms) {
    static HANDLE read_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = read_done;
    WSABUF piece = {static_cast<ULONG>(n), buffer};
    DWORD count = 0, flags = 0;
    if (WSARecv(socket, &piece, 1, &count, &flags, &overlapped, nullptr) == 0)
        return static_cast<int>(count);
    if (WSAGetLastError() != WSA_IO_PENDING)
        return RECEIVE_ERROR;
    return finish_pending_read(socket, &overlapped, timeout_ms);
}

int receive_exact(SOCKET socket, char *buffer, int n, int timeout_ms) {
    int total = n > 0 ? take_read_ahead(socket, buffer, n) : 0;
    while (total < n) {
        int missing = n - total;
        // Large bodies go straight to their buffer; small reads fill ours.
        bool read_ahead_fits = missing < static_cast<int>(sizeof(read_ahead.data));
        char *target = read_ahead_fits ? read_ahead.data : buffer + total;
        int capacity = read_ahead_fits ? static_cast<int>(sizeof(read_ahead.data)) : missing;
        int count = receive_with_timeout(socket, target, capacity, timeout_ms);
        if (count == RECEIVE_TIMEOUT)
            return RECEIVE_TIMEOUT;
        if (count == 0)
            return RECEIVE_CLOSED;
        if (count < 0)
            return RECEIVE_ERROR;
        if (read_ahead_fits) {
            read_ahead.start = 0;
            read_ahead.end = count;
            count = take_read_ahead(socket, buffer + total, missing);
        }
        total += count;
    }
    return RECEIVE_OK;
}

namespace {

uint32_t status_of(int receive_result) {
    return receive_result == RECEIVE_TIMEOUT ? STATUS_TIMED_OUT : STATUS_IO_FAILED;
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
    HeapPtr<unsigned char> buffer(
        static_cast<unsigned char *>(malloc(length + PACKET_TRAILER_SIZE)));
    if (!buffer)
        return STATUS_OUT_OF_MEMORY;
    int result =
        receive_exact(server_socket, reinterpret_cast<char *>(buffer.get()),
                      static_cast<int>(length + PACKET_TRAILER_SIZE), receive_timeout_ms.load());
    if (result != RECEIVE_OK)
        return status_of(result);
    if (read_be32(buffer.get() + length) != PACKET_TRAILER)
        return STATUS_BAD_FRAME;
    if (length == 0)
        return 0; // no body: the buffer held only the trailer
    // A failed realloc leaves the buffer as it was; either way it is the body now.
    auto *trimmed = static_cast<unsigned char *>(realloc(buffer.get(), length));
    *body = trimmed ? trimmed : buffer.get();
    buffer.release();
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
