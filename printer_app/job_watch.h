// What ends a job before it is done: a cancel, its run time, its driver's
// output. Asked between pages and, through the Wine job's and
// Ghostscript's waits, while the job waits on the Windows program or on
// Ghostscript: a bound must hold even while a page takes for ever.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

#include <pappl/pappl.h>

#include "job_limits.h"
#include "wine_job.h"

struct JobWatch {
    pappl_job_t *job = nullptr;
    JobLimits limits;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // The driver's output file and Wine's spool folder, where the driver
    // writes until the document ends, counted from printing_since on.
    std::string output, spool;
    timespec printing_since{};
    std::string reason; // why the job must end; empty while it may go on
    bool cancelled = false;
};

// A watch over `job`, its clock started now.
JobWatch watch_job(pappl_job_t *job, const JobLimits &limits);

// Makes the Wine job's waits ask the watch, and its wait for the prefix
// end with the job's run time.
void watch_wine_job(JobWatch &watch, WineJob &wine);

// Counts the driver's output from now on: called once the Wine job holds
// the prefix, so that no other job's spool file is counted.
void watch_output(JobWatch &watch, const WineJob &wine);

// Whether the job must end now; the watch's reason then says why. `watch`
// is a JobWatch: this is what the Wine job and Ghostscript ask.
bool job_must_stop(void *watch);

// Ends a job that failed: the watch's reason, where it has one, is what
// the job's state says (aborted by the system, or cancelled), else `error`
// with `reason`; the program's job is ended. False.
bool fail_watched_job(JobWatch &watch, WineJob &wine, const std::string &error,
                      pappl_jreason_t reason);
