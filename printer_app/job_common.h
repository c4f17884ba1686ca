// What every kind of job shares: the printer's setup, the start-print
// settings from the job's options, and the delivery of the driver's output.
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "printer_driver.h"
#include "wine_job.h"

// Releases the print options the printer system made for a job.
struct OptionsDeleter {
    void operator()(pappl_pr_options_t *options) const { papplJobDeletePrintOptions(options); }
};

// Logs why a job stops and says it in the job's state (as printable ASCII:
// a decoder's words may quote the document's bytes), with `reason`. False.
bool report_job_failure(pappl_job_t *job, const std::string &why, pappl_jreason_t reason);

// The printer's setup; null for a printer that is not ours.
PrinterSetup *setup_of(pappl_job_t *job);

// How the program is started for this application's jobs.
WineSetup wine_setup_for(const AppConfig &config);

// The start-print settings of a job: its paper, source, sides, colour and
// resolution in the driver's terms; what the printer lacks stays its own.
JobSettings settings_for(pappl_job_t *job, const pappl_pr_options_t &options,
                         const PrinterSetup &setup);

// Ends a job that printed every page: the job result, then the driver's
// output delivered to the output folder. False, with `error`, when either
// fails.
bool finish_and_deliver(pappl_job_t *job, WineJob &wine, std::string &error);
