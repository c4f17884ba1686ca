#include "job_watch.h"

#include <algorithm>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "job_common.h"

namespace {

int64_t seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            start)
        .count();
}

bool not_before(const timespec &a, const timespec &b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

// The output file, and the spool files written since printing began.
uint64_t output_bytes(const JobWatch &watch) {
    struct stat info {};
    uint64_t total = !watch.output.empty() && stat(watch.output.c_str(), &info) == 0
                         ? uint64_t(info.st_size)
                         : 0;
    std::unique_ptr<DIR, int (*)(DIR *)> folder(opendir(watch.spool.c_str()), closedir);
    for (dirent *entry; folder && (entry = readdir(folder.get())) != nullptr;)
        if (fstatat(dirfd(folder.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && not_before(info.st_mtim, watch.printing_since))
            total += uint64_t(info.st_size);
    return total;
}

} // namespace

JobWatch watch_job(pappl_job_t *job, const JobLimits &limits) {
    JobWatch watch;
    watch.job = job;
    watch.limits = limits;
    return watch;
}

void watch_wine_job(JobWatch &watch, WineJob &wine) {
    wine.peer.must_stop = job_must_stop;
    wine.peer.stop_context = &watch;
    int64_t left_ms = (int64_t(watch.limits.max_seconds) - seconds_since(watch.started)) * 1000;
    wine.setup.lock_timeout_ms = int(std::clamp<int64_t>(left_ms, 0, wine.setup.lock_timeout_ms));
}

void watch_output(JobWatch &watch, const WineJob &wine) {
    watch.output = drive_c_path(wine.setup.prefix, wine.settings.output_name);
    watch.spool = drive_c_path(wine.setup.prefix, "windows/system32/spool/printers");
    clock_gettime(CLOCK_REALTIME, &watch.printing_since);
}

bool job_must_stop(void *context) {
    auto &watch = *static_cast<JobWatch *>(context);
    if (!watch.reason.empty())
        return true;
    if (papplJobIsCanceled(watch.job)) {
        watch.cancelled = true;
        watch.reason = "the job was cancelled";
    } else {
        watch.reason =
            limit_passed(watch.limits, seconds_since(watch.started), output_bytes(watch));
    }
    return !watch.reason.empty();
}

bool fail_watched_job(JobWatch &watch, WineJob &wine, const std::string &error,
                      pappl_jreason_t reason) {
    if (job_must_stop(&watch))
        reason =
            watch.cancelled ? PAPPL_JREASON_JOB_CANCELED_BY_USER : PAPPL_JREASON_ABORTED_BY_SYSTEM;
    report_job_failure(watch.job, watch.reason.empty() ? error : watch.reason, reason);
    if (wine.peer.pid > 0 || wine.lock_fd >= 0)
        wine_job_abandon(wine, watch.reason.empty() ? error : watch.reason);
    return false;
}
