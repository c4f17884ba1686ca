#include "owner_only.h"

#include <cstring>
#include <string>

#include <grp.h>
#include <unistd.h>

#include "loopback.h"

namespace {

bool by_owner(pappl_client_t *client) {
    std::optional<uid_t> uid = peer_uid(httpGetFd(papplClientGetHTTP(client)));
    return uid && (*uid == getuid() || *uid == 0);
}

// Asked only about TCP clients (PAPPL itself admits its command line's local
// socket), and in place of PAPPL admitting every local one. PAPPL names the
// administrators' group when it asks about administration, and the
// printer's print group (none) when it asks about printing. It also asks
// about administration when a job's operation comes under another name than
// the job's; but a name is only the client's word, and CUPS's ipp backend,
// running as "lp", must reach the jobs it sends: a job's operations stay as
// open as PAPPL leaves them.
http_status_t authorize(pappl_client_t *client, const char *group, gid_t, void *) {
    char admin_group[256];
    const char *admin =
        papplSystemGetAdminGroup(papplClientGetSystem(client), admin_group, sizeof admin_group);
    if (!group || !admin || strcmp(group, admin) != 0 || papplClientGetJob(client))
        return HTTP_STATUS_CONTINUE;
    return by_owner(client) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

} // namespace

void admit_only_the_owner_as_administrator(pappl_system_t *system) {
    // The owner's own group: never a print group, as printers have none.
    const group *own = getgrgid(getgid());
    papplSystemSetAdminGroup(system, own ? own->gr_name : std::to_string(getgid()).c_str());
    papplSystemSetAuthCallback(system, "Basic", authorize, nullptr);
}
