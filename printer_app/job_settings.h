// The start-print settings that a job's options call for, from plain
// values: what the printer system asks for, in the driver's terms. Built
// without the printer system, so that the mapping is tested and fuzzed on
// its own; job_common's settings_for reads the values from PAPPL.
#pragma once

#include <cstdint>
#include <string>

#include "driver_data.h"
#include "pdf_plan.h"
#include "wine_job.h"

// What a job asks for, as the printer system's options say it.
struct JobRequest {
    std::string media_name;                    // PWG size name
    int32_t media_width = 0, media_length = 0; // hundredths of a millimetre
    std::string media_source;                  // PWG media-source keyword
    SidesChoice sides = SidesChoice::ONE_SIDED;
    bool colour = false; // the job's raster is in colour (sRGB or RGB)
    uint32_t x_dpi = 0, y_dpi = 0;
};

// The device settings for the request on a printer with these choices: the
// driver's own size for a media name it offers, else the request's
// dimensions when a driver can take them (1 to 65535 points a side); the
// bin of a source it offers; sides and colour where the printer has them;
// a resolution it offers. What is not set stays the driver's own. Job id,
// printer and output name are the caller's.
JobSettings map_job_request(const JobRequest &request, const DriverChoices &choices);

// The start-print record's colour for the pages' colour: colour, else
// monochrome (grey too); none where none was asked for.
std::optional<uint32_t> record_colour(std::optional<PageColour> colour);
