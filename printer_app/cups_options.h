// A CUPS job's options, as cupsd hands them to a backend, turned into the
// start-print settings that stay ours: sides, colour, resolution or quality,
// input bin and a custom paper. Copies, page ranges, number-up,
// orientation (the reverse ones too) and scaling are done by CUPS's filters
// before the job reaches the backend. Plain values, tested without cupsd.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pdf_plan.h"

struct CupsJobChoices {
    std::optional<uint32_t> duplex;   // 1 simplex, 2 long edge, 3 short edge
    std::optional<PageColour> colour; // none: colour pages, the printer's own setting
    std::optional<int32_t> quality;   // dots per inch, or the driver's draft (-1) .. high (-4)
    std::optional<uint32_t> y_dpi;    // with a quality in dots per inch
    std::optional<uint32_t> paper_source;
    // A custom paper (media=Custom.100x150mm), width << 16 | height in
    // points: the queue's PPD offers none, so CUPS lays the pages out on its
    // default paper, and the printer is asked for the paper meant.
    std::optional<uint32_t> paper;
    bool operator==(const CupsJobChoices &) const = default;
};

// The choices of an options string ("name=value ...", quoted as cupsd
// quotes; names without regard to case); what is absent or not understood
// stays the printer's own.
CupsJobChoices read_cups_options(const std::string &options);
