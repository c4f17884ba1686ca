// PDF documents printed through the Windows program: Ghostscript draws each
// page at the printable size the program reports, one page ahead of the
// printing.
#pragma once

#include <pappl/pappl.h>

struct AppState;

// Lets the system's printers take application/pdf; before any printer is made.
void add_pdf_filter(pappl_system_t *system, AppState &app);
