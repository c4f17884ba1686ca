// A job is its sender's: PAPPL lets anyone who gives the job's user name
// (or, here, anyone at all) cancel, hold or release it. Here the sender is
// the uid at the other end of the connection that created the job, and a
// local client may change a job only when it is that uid, the
// application's owner or root; CUPS's ipp backend, running as "lp", so
// reaches the jobs it sent itself. Clients elsewhere (served with
// listen-hostname) keep PAPPL's rule, a password for another's job. Jobs
// restored from the state file have no known sender: their owner's alone.
// The library calls both functions below through its procedure linkage
// table, so these definitions come first.
#include <dlfcn.h>

#include <map>
#include <mutex>

#include <pappl/pappl.h>

#include "owner_only.h"

namespace {

std::mutex senders_mutex;
std::map<int, uid_t> senders; // job id: the uid that created it

std::optional<uid_t> sender_of(int job_id) {
    std::lock_guard<std::mutex> hold(senders_mutex);
    auto found = senders.find(job_id);
    return found == senders.end() ? std::nullopt : std::optional<uid_t>(found->second);
}

bool changes_job(ipp_op_t operation) {
    switch (operation) {
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_SEND_URI:
    case IPP_OP_CANCEL_DOCUMENT:
    case IPP_OP_SET_JOB_ATTRIBUTES:
        return true;
    default:
        return false;
    }
}

// Whether the client may change the job: always for a client elsewhere,
// whom PAPPL then judges.
bool may_change(pappl_client_t *client, int job_id) {
    if (!httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client))))
        return true;
    std::optional<uid_t> requester = current_requester();
    return requester && (is_owner_or_root(*requester) || sender_of(job_id) == requester);
}

} // namespace

extern "C" pappl_job_t *_papplJobCreate(pappl_printer_t *printer, int job_id, const char *username,
                                        const char *format, const char *job_name, ipp_t *attrs) {
    using Create =
        pappl_job_t *(*)(pappl_printer_t *, int, const char *, const char *, const char *, ipp_t *);
    static const auto library_create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, __func__));
    pappl_job_t *job = library_create(printer, job_id, username, format, job_name, attrs);
    std::optional<uid_t> requester = current_requester();
    if (job && requester && job_id == 0) { // a restored job comes with its id
        std::lock_guard<std::mutex> hold(senders_mutex);
        senders[papplJobGetID(job)] = *requester;
    }
    return job;
}

extern "C" void _papplJobProcessIPP(pappl_client_t *client) {
    using Process = void (*)(pappl_client_t *);
    static const auto library_process = reinterpret_cast<Process>(dlsym(RTLD_NEXT, __func__));
    pappl_job_t *job = papplClientGetJob(client);
    if (job && changes_job(ippGetOperation(papplClientGetRequest(client))) &&
        !may_change(client, papplJobGetID(job))) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_FORBIDDEN,
                              "Job #%d is not yours: only its sender and the printer's owner "
                              "may change it.",
                              papplJobGetID(job));
        return;
    }
    library_process(client);
}
