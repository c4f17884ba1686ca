// The served printers kept in step with the prefix's Wine printers: at
// start, after the saved printers (with their owner's defaults) are restored,
// and at every rescan while the system runs.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "printer_driver.h"

// Asks the prefix for its printers and for the driver report of each one not
// known yet; the reports of printers that are gone are forgotten. The
// printers whose report is known are in `printers`, what could not be read
// in `errors`. False when the list cannot be read: nothing changes then.
bool scan_wine_printers(AppState &app, std::vector<WinePrinter> &printers,
                        std::vector<std::string> &errors);

// Before the system runs: takes the prefix's printers, restores the saved
// state (a printer whose Wine printer is gone cannot get its driver and is
// not restored), adds the Wine printers not served yet and keeps the state
// file from then on. False when the prefix cannot be asked.
bool restore_printers(pappl_system_t *system, AppState &app);

// Rescans every config.rescan_seconds once the system runs. The printer
// system runs its timers under its own lock, which adding a printer takes
// too, so the timer only wakes a thread that scans and adds or removes.
void schedule_rescans(pappl_system_t *system, AppState &app);
// Ends the rescans, waiting for one under way; before the system is deleted.
void stop_rescans(AppState &app);
