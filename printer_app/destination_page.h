// Where a printer's jobs go after its Windows driver, as the owner chooses
// on the printer's "Destination" page or with -o destination.WINE-PRINTER=
// (folder, queue:NAME, or a socket://, ipp:// or ipps:// URI): kept beside the state file
// (STATE.destinations), so that a choice outlives a restart.
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "printer_driver.h"

// The kept choices, then those that options name: before any printer is
// made. The complaint about an option that names no destination, or one
// with a password (which every user could read on the command line).
std::string read_destination_choices(AppState &app, int num_options, cups_option_t *options);

// The printer's Destination page and its link, once per printer name.
void add_destination_page(pappl_printer_t *printer, AppState &app);
