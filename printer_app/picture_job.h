// JPEG and PNG documents: decoded here, printed by the printer system's
// image filter. The filters stand in for PAPPL's own by their names.
#pragma once

#include <pappl/pappl.h>

extern "C" bool _papplJobFilterJPEG(pappl_job_t *job, pappl_device_t *device, void *data);
extern "C" bool _papplJobFilterPNG(pappl_job_t *job, pappl_device_t *device, void *data);
