// The one TCP connection to the server on 127.0.0.1, and the reading of
// whole packets from it. Only the main thread receives.
#pragma once

#include <winsock2.h>

#include <atomic>

#include "net/packet.h"

extern SOCKET server_socket;
extern int connected;

int ConnectToServer(int port);
void close_server_socket();

// Shuts the connection down without closing it and cancels a send blocked
// on a server that stopped reading (Wine does not end a blocking send on
// shutdown or close alone).
void shutdown_server_socket();

// Results of the receive helpers.
enum { RECEIVE_OK = 0, RECEIVE_ERROR = -1, RECEIVE_TIMEOUT = -2, RECEIVE_CLOSED = -3 };

int receive_with_timeout(SOCKET socket, char *buffer, int n, int timeout_ms);
int receive_exact(SOCKET socket, char *buffer, int n, int timeout_ms);

// 1 with a whole, well-formed packet: the header in host order and the body
// (null when empty, else a heap buffer of exactly `length` bytes owned by the
// caller). 0 after a failure, which is reported to the server with 0x2004.
int ReceivePacket(PacketHeader *header, unsigned char **body);
