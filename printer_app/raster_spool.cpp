// PAPPL 1.3 prints a PWG or Apple raster job straight from the client's
// connection, in the client's thread: a sender that stops half-way holds
// the Windows program and the prefix for as long as it likes, and a job
// cancelled meanwhile stays under way. The library calls
// _papplJobProcessRaster and _papplJobCopyDocumentData through its
// procedure linkage table, so these definitions come first: the document
// is received into the spool folder while the job is held as incoming,
// bounded in size and in the sender's silence and given up at a cancel,
// then queued as a file job, which the job thread prints like any other
// once all of it has arrived.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <pappl/pappl.h>
#include <pthread.h>
#include <unistd.h>

#include "fd_io.h"
#include "job_common.h"
#include "job_limits.h"

// PAPPL 1.3's own: a job's state alone, a received document queued, and a
// job's attributes copied into the client's answer.
extern "C" void _papplJobSetState(pappl_job_t *job, ipp_jstate_t state);
extern "C" void _papplJobSubmitFile(pappl_job_t *job, const char *filename);
extern "C" void _papplJobCopyAttributesNoLock(pappl_job_t *job, pappl_client_t *client,
                                              cups_array_t *ra);

namespace {

using Clock = std::chrono::steady_clock;

struct Receipt {
    pappl_job_t *job = nullptr;
    JobLimits limits;
    uint64_t received = 0;
    Clock::time_point last_data = Clock::now();
    std::string problem; // why the document was given up
};

// CUPS asks this each second the sender is silent: non-zero waits on.
int keep_waiting(http_t *, void *context) {
    auto &r = *static_cast<Receipt *>(context);
    auto idle = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - r.last_data);
    r.problem = spool_problem(r.limits, r.received, idle.count());
    return r.problem.empty() && !papplJobIsCanceled(r.job);
}

// Copies the request's document into `fd` until it ends, is given up or
// the job is cancelled. Reads wait at most a second at a time (PAPPL's own
// wait without end is put back after).
void receive(http_t *http, int fd, Receipt &r) {
    char buffer[65536];
    httpSetTimeout(http, 1.0, keep_waiting, &r);
    while (r.problem.empty() && !papplJobIsCanceled(r.job)) {
        ssize_t got = httpRead2(http, buffer, sizeof buffer);
        if (got <= 0) {
            if (r.problem.empty() && httpGetState(http) == HTTP_STATE_POST_RECV &&
                !papplJobIsCanceled(r.job))
                r.problem = "the connection ended before the document did";
            break;
        }
        r.received += uint64_t(got);
        r.last_data = Clock::now();
        r.problem = spool_problem(r.limits, r.received, 0);
        if (r.problem.empty() && !write_all(fd, buffer, size_t(got)))
            r.problem = std::string("the document cannot be spooled: ") + strerror(errno);
    }
    httpSetTimeout(http, 0.0, nullptr, nullptr);
}

// A held job cancelled ends at once, and is done with by the printer;
// then its state is made what happened.
void abort_incoming(pappl_job_t *job, const std::string &why) {
    report_job_failure(job, why, PAPPL_JREASON_ABORTED_BY_SYSTEM);
    papplJobCancel(job);
    _papplJobSetState(job, IPP_JSTATE_ABORTED);
}

int compare_names(void *a, void *b, void *) {
    return strcmp(static_cast<char *>(a), static_cast<char *>(b));
}

// What the library answers a document with: the job's state, copied under
// the job's lock, which PAPPL 1.3 keeps as the job's first member.
void answer_with_state(pappl_client_t *client, pappl_job_t *job) {
    papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
    cups_array_t *ra = cupsArrayNew(compare_names, nullptr);
    for (const char *name :
         {"job-id", "job-state", "job-state-message", "job-state-reasons", "job-uri"})
        cupsArrayAdd(ra, const_cast<char *>(name));
    auto *lock = reinterpret_cast<pthread_rwlock_t *>(job);
    pthread_rwlock_rdlock(lock);
    _papplJobCopyAttributesNoLock(job, client, ra);
    pthread_rwlock_unlock(lock);
    cupsArrayDelete(ra);
}

} // namespace

extern "C" void _papplJobProcessRaster(pappl_job_t *job, pappl_client_t *client) {
    // A pending job would be started by the job thread without a document:
    // held, no thread takes it, and a cancel ends it at once.
    _papplJobSetState(job, IPP_JSTATE_HELD);
    papplJobSetReasons(job, PAPPL_JREASON_JOB_INCOMING, PAPPL_JREASON_NONE);
    PrinterSetup *setup = setup_of(job);
    Receipt receipt;
    receipt.job = job;
    receipt.limits = setup ? setup->app->config.limits : JobLimits{};
    char path[1024];
    int fd = papplJobOpenFile(job, path, sizeof path, nullptr, nullptr, "w");
    if (fd < 0)
        receipt.problem = std::string("the document cannot be spooled: ") + strerror(errno);
    else
        receive(papplClientGetHTTP(client), fd, receipt);
    if (fd >= 0 && close(fd) != 0 && receipt.problem.empty())
        receipt.problem = std::string("the document cannot be spooled: ") + strerror(errno);
    papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_JOB_INCOMING);
    if (receipt.problem.empty() && !papplJobIsCanceled(job)) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Received %llu bytes of raster",
                    (unsigned long long)receipt.received);
        _papplJobSubmitFile(job, path);
        return;
    }
    if (fd >= 0)
        unlink(path);
    if (!papplJobIsCanceled(job))
        abort_incoming(job, receipt.problem);
}

// The library answers "busy" to a raster document while another job
// prints, since it used to print it there and then; queued, it waits its
// turn like any other document.
extern "C" void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job) {
    using Copy = void (*)(pappl_client_t *, pappl_job_t *);
    static const auto library_copy = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, __func__));
    const std::string format = papplJobGetFormat(job) ?: "";
    if ((format != "image/pwg-raster" && format != "image/urf") ||
        papplPrinterIsHoldingNewJobs(papplJobGetPrinter(job)))
        return library_copy(client, job);
    _papplJobProcessRaster(job, client);
    answer_with_state(client, job);
}
