// The jobs of a saved state that an application ended by a crash or a kill
// left unfinished, and what such an application left behind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The state text with each job that was not finished (pending, held,
// processing or stopped) marked aborted, and each job without a document
// left out: PAPPL 1.3 would restore the first kind as still under way, for
// ever, and refuses to read the second ("Bad Job definition"), with every
// line after it. `lost` gets the ids of the jobs marked.
std::string repair_saved_jobs(std::string_view state, std::vector<int> &lost);

// Removes the page folders under `shm` (tavri-app-PID-*, tavri-pdf-PID-*),
// the driver outputs under `drive_c` (tavri-app-PID-*.prn) and the printer
// system's spool folders under `tmp` (papplPID.d) that belong to this user
// and to a process that no longer runs. Returns how many were removed.
int sweep_leftovers(const std::string &shm, const std::string &drive_c, const std::string &tmp);
