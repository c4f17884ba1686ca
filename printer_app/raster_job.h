// A job's raster, page by page, printed through the Windows program.
#pragma once

#include <string>

#include <pappl/pappl.h>

// Sets the raster callbacks of the Wine driver.
void set_raster_callbacks(pappl_pr_driver_data_t *data);

// Ends a job whose raster callbacks have started it: its state says `why`
// with `reason`, and its end callback only releases what it holds. False.
bool fail_raster_job(pappl_job_t *job, const std::string &why, pappl_jreason_t reason);
