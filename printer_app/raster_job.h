// A job's raster, page by page, printed through the Windows program.
#pragma once

#include <pappl/pappl.h>

// Sets the raster callbacks of the Wine driver.
void set_raster_callbacks(pappl_pr_driver_data_t *data);
