// Who may change the printers: PAPPL, given no way to authenticate, lets
// every local client use the web interface's settings and IPP's
// administrative operations, and its command line's local socket skips
// every check, so on a shared machine any user could change the owner's
// defaults, cancel the owner's jobs or delete printers. Here the local
// socket takes the application's owner (and root) alone, and while only
// local clients are served, administration takes them too. Who is at the
// other end is the kernel's word (the uid of the peer's socket), never the
// name a request gives.
#pragma once

#include <optional>
#include <string>

#include <sys/types.h>

#include <pappl/pappl.h>

void admit_only_the_owner_as_administrator(pappl_system_t *system);

// Whether `uid` is the application's owner or root.
bool is_owner_or_root(uid_t uid);

// Who is at the other end of the request this thread serves: on this
// machine (the local socket, a loopback address, or any connection whose
// socket the kernel's table names), by uid; elsewhere, by address alone.
struct Requester {
    bool local = false;
    std::optional<uid_t> uid; // none when the kernel could not say
    std::string address;      // of a client elsewhere
};
const Requester &current_requester();
