// Who may print, and who may change a job or a printer. Printing is open to whoever
// reaches a printer, on this machine or, when served beyond it, elsewhere.
// A job is its sender's: PAPPL lets anyone who gives the job's user name
// (or, on this machine, anyone at all) cancel, hold or release it. Here a
// job's sender is who created it: on this machine the uid at the other end
// of the connection, never the name the request gives, and elsewhere the
// client's address. A sender changes its own jobs; on this machine the
// application's owner and root change any, and nobody else; from elsewhere
// PAPPL asks for an administrator's password. CUPS's ipp backend, running
// as "lp", so reaches the jobs it sent itself. Jobs restored from the state
// file have no known sender. The library calls both functions below
// through its procedure linkage table, so these definitions come first.
#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

#include <pappl/pappl.h>

#include "owner_only.h"

namespace {

std::mutex senders_mutex;
std::map<int, std::string> senders; // job id: who created it

// "uid:N" on this machine, "host:ADDRESS" elsewhere; empty when unknown.
std::string identity(const Requester &who) {
    if (who.local)
        return who.uid ? "uid:" + std::to_string(*who.uid) : "";
    return "host:" + who.address;
}

bool is_sender(int job_id, const std::string &who) {
    std::lock_guard<std::mutex> hold(senders_mutex);
    auto found = senders.find(job_id);
    return !who.empty() && found != senders.end() && found->second == who;
}

bool changes_job(ipp_op_t operation) {
    switch (operation) {
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_CURRENT_JOB:
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

// Operations on the printer itself, which PAPPL 1.3 leaves to anyone who
// may print (Enable-Printer and Disable-Printer among them): the owner's.
bool administers(ipp_op_t operation) {
    switch (operation) {
    case IPP_OP_PAUSE_PRINTER:
    case IPP_OP_PAUSE_PRINTER_AFTER_CURRENT_JOB:
    case IPP_OP_RESUME_PRINTER:
    case IPP_OP_ENABLE_PRINTER:
    case IPP_OP_DISABLE_PRINTER:
    case IPP_OP_HOLD_NEW_JOBS:
    case IPP_OP_RELEASE_HELD_NEW_JOBS:
    case IPP_OP_SET_PRINTER_ATTRIBUTES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CANCEL_JOBS:
    case IPP_OP_CANCEL_MY_JOBS:
        return true;
    default:
        return false;
    }
}

void note_processing(pappl_job_t *job, void *found) {
    if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
        *static_cast<pappl_job_t **>(found) = job;
}

// The job an operation changes: its own, or for Cancel-Current-Job the
// printer's current one.
pappl_job_t *job_changed(pappl_client_t *client, ipp_op_t operation) {
    if (operation != IPP_OP_CANCEL_CURRENT_JOB)
        return papplClientGetJob(client);
    pappl_job_t *current = nullptr;
    papplPrinterIterateActiveJobs(papplClientGetPrinter(client), note_processing, &current, 1, 0);
    return current;
}

} // namespace

extern "C" pappl_job_t *_papplJobCreate(pappl_printer_t *printer, int job_id, const char *username,
                                        const char *format, const char *job_name, ipp_t *attrs) {
    using Create =
        pappl_job_t *(*)(pappl_printer_t *, int, const char *, const char *, const char *, ipp_t *);
    static const auto library_create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, __func__));
    pappl_job_t *job = library_create(printer, job_id, username, format, job_name, attrs);
    std::string who = identity(current_requester());
    if (job && job_id == 0 && !who.empty()) { // a restored job comes with its id
        std::lock_guard<std::mutex> hold(senders_mutex);
        senders[papplJobGetID(job)] = who;
    }
    return job;
}

extern "C" bool _papplPrinterIsAuthorized(pappl_client_t *client) {
    using Authorize = bool (*)(pappl_client_t *);
    static const auto library_authorize = reinterpret_cast<Authorize>(dlsym(RTLD_NEXT, __func__));
    ipp_op_t operation = ippGetOperation(papplClientGetRequest(client));
    if (administers(operation)) {
        http_status_t status = papplClientIsAuthorized(client);
        if (status != HTTP_STATUS_CONTINUE)
            papplClientRespond(client, status, nullptr, nullptr, 0, 0);
        return status == HTTP_STATUS_CONTINUE;
    }
    if (!changes_job(operation))
        return true;
    pappl_job_t *job = job_changed(client, operation);
    const Requester &who = current_requester();
    if (!job || is_sender(papplJobGetID(job), identity(who)) ||
        (who.uid && is_owner_or_root(*who.uid)))
        return true;
    if (!who.local)
        return library_authorize(client);
    papplClientRespondIPP(client, IPP_STATUS_ERROR_FORBIDDEN,
                          "Job #%d is not yours: only its sender and the printer's owner may "
                          "change it.",
                          papplJobGetID(job));
    return false;
}
