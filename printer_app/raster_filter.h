// PWG and Apple raster documents, once received whole, printed by the job
// thread through the driver's raster callbacks: the pages are counted
// first, so that each prints as soon as it is made (one page image at a
// time) and a document of too many pages is refused before the Windows
// program starts.
#pragma once

#include <pappl/pappl.h>

// Lets the system's printers print received raster documents; before any
// printer is made.
void add_raster_filters(pappl_system_t *system);
