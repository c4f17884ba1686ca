// Who is at the other end of a loopback connection. Any local user can
// connect to a port of 127.0.0.1, so an address proves nothing; the
// kernel's table of TCP sockets names the uid that owns each one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/socket.h>
#include <sys/types.h>

// An address as the kernel's table writes it: the address's 32-bit words in
// host order, then the port, all in hexadecimal ("0100007F:1F90").
std::string table_address(const sockaddr_storage &address);

// The uid of the open (established) socket whose local address is `local`
// and remote address `remote`, in one of the kernel's tables.
std::optional<uid_t> find_socket_owner(std::string_view table, std::string_view local,
                                       std::string_view remote);

// The uid that owns the other end of the connected socket `fd`: a loopback
// one's from the kernel's table, a local (AF_UNIX) one's from its credentials.
std::optional<uid_t> peer_uid(int fd);
