// Baseline for the session-start figure of bench/roundtrip.py: a Win32
// program that starts the socket library, connects to 127.0.0.1:PORT and
// waits for the server to close. Everything the proxy does before its
// connect beyond this is start-up cost of its own.
//   connect_only.exe PORT
#include <winsock2.h>

#include <cstdlib>

int main(int argc, char **argv) {
    if (argc < 2)
        return 1;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 6;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(atoi(argv[argc - 1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc = 3;
    if (s != INVALID_SOCKET &&
        connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
        char byte;
        while (recv(s, &byte, 1, 0) > 0) {
        }
        rc = 0;
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    return rc;
}
