#include "owner_only.h"

#include <cstring>
#include <string>

#include <dlfcn.h>
#include <grp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback.h"

namespace {

// PAPPL serves each connection on a thread of its own, so the peer is
// looked up once per connection, not once per request.
thread_local pappl_client_t *peer_of = nullptr;
thread_local Requester peer;

Requester requester_of(pappl_client_t *client) {
    http_t *http = papplClientGetHTTP(client);
    Requester who;
    who.uid = peer_uid(httpGetFd(http));
    who.local = who.uid || httpAddrLocalhost(httpGetAddress(http));
    char address[256] = "";
    if (!who.local)
        who.address = httpAddrString(httpGetAddress(http), address, sizeof address);
    return who;
}

bool on_local_socket(pappl_client_t *client) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    return getsockname(httpGetFd(papplClientGetHTTP(client)),
                       reinterpret_cast<sockaddr *>(&address), &size) == 0 &&
           address.ss_family == AF_UNIX;
}

// Asked only about TCP clients (the local socket's are the owner's), and in
// place of PAPPL admitting every local one. PAPPL names the administrators'
// group when it asks about administration; printing, and a job's own
// operations, are judged in job_owners.cpp before PAPPL would ask.
http_status_t authorize(pappl_client_t *client, const char *group, gid_t, void *) {
    char admin_group[256];
    const char *admin =
        papplSystemGetAdminGroup(papplClientGetSystem(client), admin_group, sizeof admin_group);
    if (!group || !admin || strcmp(group, admin) != 0)
        return HTTP_STATUS_CONTINUE;
    const Requester &who = current_requester(); // noted for this connection
    return who.uid && is_owner_or_root(*who.uid) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

} // namespace

bool is_owner_or_root(uid_t uid) {
    return uid == getuid() || uid == 0;
}

const Requester &current_requester() {
    return peer;
}

void admit_only_the_owner_as_administrator(pappl_system_t *system) {
    // The owner's own group: never a print group, as printers have none.
    const group *own = getgrgid(getgid());
    papplSystemSetAdminGroup(system, own ? own->gr_name : std::to_string(getgid()).c_str());
    papplSystemSetAuthCallback(system, "Basic", authorize, nullptr);
}

// Every request passes here first (the library calls it through its
// procedure linkage table, so this definition comes first): the peer is
// noted for the checks that follow, and another user on the local socket is
// turned away, whatever the socket's folder allowed.
extern "C" bool _papplClientProcessHTTP(pappl_client_t *client) {
    using Process = bool (*)(pappl_client_t *);
    static const auto library_process = reinterpret_cast<Process>(dlsym(RTLD_NEXT, __func__));
    if (peer_of != client) {
        peer_of = client;
        peer = requester_of(client);
        if (on_local_socket(client) && !(peer.uid && is_owner_or_root(*peer.uid))) {
            papplLogClient(client, PAPPL_LOGLEVEL_ERROR,
                           "Refused uid %ld on the command socket: it is the owner's alone",
                           peer.uid ? long(*peer.uid) : -1L);
            peer_of = nullptr;
            return false;
        }
    }
    return library_process(client);
}
