#include "job_settings.h"

#include <cmath>
#include <optional>

namespace {

// The start-print record holds each side of the paper in 16 bits.
constexpr double MAX_PAPER_POINTS = 65535;

// width << 16 | length in points; none for a side of less than a point or
// more than the record holds, which would be read as another size.
std::optional<uint32_t> paper_points(int32_t width, int32_t length) {
    double w = std::round(width * 72.0 / 2540.0), l = std::round(length * 72.0 / 2540.0);
    if (w < 1 || l < 1 || w > MAX_PAPER_POINTS || l > MAX_PAPER_POINTS)
        return std::nullopt;
    return uint32_t(w) << 16 | uint32_t(l);
}

} // namespace

JobSettings map_job_request(const JobRequest &r, const DriverChoices &c) {
    JobSettings js;
    js.paper = paper_points(r.media_width, r.media_length);
    for (const MediaChoice &m : c.media)
        if (m.pwg_name == r.media_name)
            js.paper = m.points;
    for (const SourceChoice &source : c.sources)
        if (source.keyword == r.media_source && source.bin_id > 0)
            js.paper_source = uint32_t(source.bin_id);
    if (c.duplex)
        js.duplex = r.sides == SidesChoice::LONG_EDGE    ? 2u
                    : r.sides == SidesChoice::SHORT_EDGE ? 3u
                                                         : 1u;
    if (c.color)
        js.color = r.colour ? JOB_COLOR_COLOR : JOB_COLOR_MONO;
    // Only a resolution the driver offers: the program takes X as a DEVMODE
    // print quality (a short, and a driver's quality code when negative).
    for (const DeviceResolution &offered : c.resolutions)
        if (offered.x > 0 && offered.y > 0 && uint32_t(offered.x) == r.x_dpi &&
            uint32_t(offered.y) == r.y_dpi) {
            js.x_dpi = r.x_dpi;
            js.y_dpi = r.y_dpi;
        }
    return js;
}

std::optional<uint32_t> record_colour(std::optional<PageColour> colour) {
    if (!colour)
        return std::nullopt;
    return *colour == PageColour::COLOR ? JOB_COLOR_COLOR : JOB_COLOR_MONO;
}
