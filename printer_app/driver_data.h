// What a Wine printer's driver report means for an IPP printer: PWG media
// names, one set of margins, resolutions, colour, sides and sources, and the
// defaults among them. A plain function over plain structs, so that the
// choices are tested without a running printer system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "query_report.h"

// IPP allows a printer this many resolutions (PAPPL_MAX_RESOLUTION).
constexpr size_t MAX_RESOLUTIONS = 4;
// And this many media sizes and sources (PAPPL_MAX_MEDIA, PAPPL_MAX_SOURCE).
constexpr size_t MAX_MEDIA = 256;
constexpr size_t MAX_SOURCES = 16;

struct MediaChoice {
    std::string pwg_name;          // e.g. iso_a4_210x297mm
    int32_t paper_id = 0;          // the driver's paper number
    int32_t width = 0, length = 0; // hundredths of a millimetre
    uint32_t points = 0;           // width << 16 | height in points, as a job asks for it
};

struct SourceChoice {
    std::string keyword; // PWG media-source keyword
    int32_t bin_id = 0;  // the driver's bin number
};

enum class SidesChoice { ONE_SIDED, LONG_EDGE, SHORT_EDGE };

struct DriverChoices {
    std::string make_and_model;
    std::vector<MediaChoice> media; // never empty
    size_t default_media = 0;
    int32_t left_right = 0, bottom_top = 0; // margins, hundredths of a millimetre
    // A driver that prints to every edge: each paper is offered borderless,
    // and with margins of 0.01 mm, for CUPS's generated PPDs (whose default
    // paper names the bordered one) and so that "auto" scaling fits a
    // picture or document whole instead of filling the paper with it.
    bool borderless = false;
    std::vector<DeviceResolution> resolutions; // never empty, at most MAX_RESOLUTIONS
    DeviceResolution default_resolution;
    bool color = false, color_default = false;
    bool duplex = false;
    SidesChoice sides_default = SidesChoice::ONE_SIDED;
    std::vector<SourceChoice> sources; // at least "auto"
    size_t default_source = 0;
};

// The choices for a report that parse_driver_report accepted.
DriverChoices choose_driver_settings(const DriverReport &report);

// The PWG keyword of a driver's bin: the standard bins by their number, any
// other "tray-N" with N counted from 1 among them.
std::string source_keyword(int32_t bin_id, int &next_tray);
