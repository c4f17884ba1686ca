#include "driver_data.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <cups/cups.h>

namespace {

constexpr int32_t MAX_PAPER_TENTHS_MM = 50800; // 200 inches: nothing larger is paper
constexpr int32_t MIN_DPI = 50, MAX_DPI = 9600;
// Resolutions above this make pages of hundreds of MiB each; they are
// offered only when the driver has too few others.
constexpr int32_t PREFERRED_MAX_DPI = 600;

// The driver's colour and duplex settings (DMCOLOR_*, DMDUP_*).
constexpr int32_t DRIVER_COLOR = 2;
constexpr int32_t DRIVER_DUPLEX_LONG_EDGE = 2, DRIVER_DUPLEX_SHORT_EDGE = 3;

uint32_t tenths_mm_to_points(int32_t tenths) {
    return uint32_t(std::lround(tenths * 72.0 / 254.0));
}

// Hundredths of a millimetre for `pixels` at `dpi`, rounded up: a margin
// that is too small would put content where the driver cannot print. No
// margin is wider than the largest paper (nor overflows).
int32_t pixels_to_hundredths_mm(int32_t pixels, int32_t dpi) {
    if (pixels <= 0)
        return 0;
    return int32_t(
        std::min(std::ceil(double(pixels) * 2540.0 / dpi), double(MAX_PAPER_TENTHS_MM) * 10));
}

void widen_margins(const DriverPaper &p, DriverChoices &c) {
    if (!p.has_printable_area())
        return;
    int32_t right = p.physical_width - p.offset_x - p.printable_width;
    int32_t bottom = p.physical_height - p.offset_y - p.printable_height;
    c.left_right = std::max({c.left_right, pixels_to_hundredths_mm(p.offset_x, p.dpi_x),
                             pixels_to_hundredths_mm(right, p.dpi_x)});
    c.bottom_top = std::max({c.bottom_top, pixels_to_hundredths_mm(p.offset_y, p.dpi_y),
                             pixels_to_hundredths_mm(bottom, p.dpi_y)});
}

uint32_t points_of(const DriverPaper &p) {
    return tenths_mm_to_points(p.width) << 16 | tenths_mm_to_points(p.height);
}

// A size without a PWG name is the driver's own: "om_NAME_WxHmm" or
// "oe_NAME_WxHin", the PWG classes of other metric and other inch sizes,
// with NAME from the driver's paper. The dimensions alone
// ("custom_182.7x256.4mm") hold a '.', which a PWG name part may not, and
// "custom_" names are left out of the web interface's paper choice.
std::string driver_media_name(const std::string &generated, const std::string &paper_name) {
    std::string name;
    for (char ch : paper_name) {
        const char lower = char(std::tolower(static_cast<unsigned char>(ch)));
        if (std::isalnum(static_cast<unsigned char>(lower)) && !(lower & 0x80))
            name += lower;
        else if (!name.empty() && name.back() != '-')
            name += '-';
    }
    while (!name.empty() && name.back() == '-')
        name.pop_back();
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])))
        name = "paper" + name;
    return (generated.ends_with("in") ? "oe_" : "om_") + name +
           generated.substr(generated.find_last_of('_'));
}

// One media entry per PWG size and per name: drivers often list a size
// twice under two names, and sizes a few tenths of a millimetre apart have
// one PWG name (which a job names); the first wins. A paper with a side of
// less than a point has no size a job can ask the driver for.
void choose_media(const DriverReport &r, DriverChoices &c) {
    for (const DriverPaper &p : r.papers) {
        if (p.width <= 0 || p.height <= 0 || p.width > MAX_PAPER_TENTHS_MM ||
            p.height > MAX_PAPER_TENTHS_MM || c.media.size() == MAX_MEDIA ||
            !(points_of(p) >> 16) || !(points_of(p) & 0xffff))
            continue;
        pwg_media_t *pwg = pwgMediaForSize(p.width * 10, p.height * 10);
        if (!pwg || !pwg->pwg)
            continue;
        const std::string generated = pwg->pwg;
        const std::string name =
            generated.starts_with("custom_") ? driver_media_name(generated, p.name) : generated;
        auto same = [&](const MediaChoice &m) {
            return m.points == points_of(p) || m.pwg_name == name;
        };
        auto found = std::find_if(c.media.begin(), c.media.end(), same);
        if (found == c.media.end()) {
            c.media.push_back({name, p.id, p.width * 10, p.height * 10, points_of(p)});
            widen_margins(p, c);
            found = c.media.end() - 1;
        }
        if (r.defaults.paper && *r.defaults.paper == p.id)
            c.default_media = size_t(found - c.media.begin());
    }
}

bool usable(const DeviceResolution &r) {
    return r.x >= MIN_DPI && r.x <= MAX_DPI && r.y >= MIN_DPI && r.y <= MAX_DPI;
}

bool same_resolution(const DeviceResolution &a, const DeviceResolution &b) {
    return a.x == b.x && a.y == b.y;
}

// Preference among the others: the finest up to PREFERRED_MAX_DPI, then the
// coarsest above it.
bool preferred(const DeviceResolution &a, const DeviceResolution &b) {
    bool a_fine = std::max(a.x, a.y) > PREFERRED_MAX_DPI;
    bool b_fine = std::max(b.x, b.y) > PREFERRED_MAX_DPI; // fine: a page of hundreds of MiB
    if (a_fine != b_fine)
        return !a_fine;
    long a_dots = long(a.x) * a.y, b_dots = long(b.x) * b.y;
    return a_fine ? a_dots < b_dots : a_dots > b_dots;
}

// The default: the driver's own unless it is finer than PREFERRED_MAX_DPI
// (a page of hundreds of MiB), else the preferred one. Then the preferred
// others, at most MAX_RESOLUTIONS in all, listed from coarse to fine.
void choose_resolutions(const DriverReport &r, DriverChoices &c) {
    std::vector<DeviceResolution> all;
    for (const DeviceResolution &res : r.resolutions)
        if (usable(res) && std::none_of(all.begin(), all.end(), [&](const DeviceResolution &o) {
                return same_resolution(o, res);
            }))
            all.push_back(res);
    if (all.empty())
        all.push_back(r.defaults.resolution && usable(*r.defaults.resolution)
                          ? *r.defaults.resolution
                          : DeviceResolution{300, 300});
    std::sort(all.begin(), all.end(), preferred);
    auto given = std::find_if(all.begin(), all.end(), [&](const DeviceResolution &o) {
        return r.defaults.resolution && same_resolution(o, *r.defaults.resolution);
    });
    // A driver default finer than PREFERRED_MAX_DPI stays on offer, second.
    auto too_fine = [](const DeviceResolution &r) {
        return std::max(r.x, r.y) > PREFERRED_MAX_DPI;
    };
    if (given != all.end()) {
        auto to = all.begin() + (too_fine(*given) && !too_fine(all.front()) ? 1 : 0);
        if (given > to)
            std::rotate(to, given, given + 1);
    }
    c.default_resolution = all.front();
    all.resize(std::min(all.size(), MAX_RESOLUTIONS));
    std::sort(all.begin(), all.end(), [](const DeviceResolution &a, const DeviceResolution &b) {
        return long(a.x) * a.y < long(b.x) * b.y;
    });
    c.resolutions = all;
}

void choose_sources(const DriverReport &r, DriverChoices &c) {
    int next_tray = 1;
    for (const DriverBin &bin : r.bins) {
        if (c.sources.size() == MAX_SOURCES)
            break;
        std::string keyword = source_keyword(bin.id, next_tray);
        auto same = [&](const SourceChoice &s) { return s.keyword == keyword; };
        if (std::any_of(c.sources.begin(), c.sources.end(), same))
            continue;
        c.sources.push_back({keyword, bin.id});
        if (r.defaults.bin && *r.defaults.bin == bin.id)
            c.default_source = c.sources.size() - 1;
    }
    if (c.sources.empty())
        c.sources.push_back({"auto", 0}); // 0: the driver keeps its own bin
}

} // namespace

std::string source_keyword(int32_t bin_id, int &next_tray) {
    // DMBIN_UPPER .. DMBIN_FORMSOURCE; 8 (tractor), 9 and 10 (small and
    // large format) have no PWG name of their own.
    static const char *const standard[] = {nullptr,  "top",      "bottom",       "middle",
                                           "manual", "envelope", "by-pass-tray", "auto",
                                           nullptr,  nullptr,    nullptr,        "large-capacity",
                                           nullptr,  nullptr,    "main",         "alternate"};
    if (bin_id > 0 && size_t(bin_id) < std::size(standard) && standard[bin_id])
        return standard[bin_id];
    return "tray-" + std::to_string(next_tray++);
}

DriverChoices choose_driver_settings(const DriverReport &r) {
    DriverChoices c;
    c.make_and_model = r.driver.empty() ? r.printer : r.driver;
    choose_media(r, c);
    if (c.media.empty()) // a report of unusable papers only: a printer must have one
        c.media.push_back({"iso_a4_210x297mm", 0, 21000, 29700, 595u << 16 | 842u});
    c.borderless = c.left_right == 0 && c.bottom_top == 0;
    if (c.borderless)
        c.left_right = c.bottom_top = 1;
    choose_resolutions(r, c);
    c.color = r.color;
    c.color_default = r.color && r.defaults.color.value_or(DRIVER_COLOR) == DRIVER_COLOR;
    c.duplex = r.duplex;
    int32_t duplex = r.duplex ? r.defaults.duplex.value_or(0) : 0;
    c.sides_default = duplex == DRIVER_DUPLEX_LONG_EDGE    ? SidesChoice::LONG_EDGE
                      : duplex == DRIVER_DUPLEX_SHORT_EDGE ? SidesChoice::SHORT_EDGE
                                                           : SidesChoice::ONE_SIDED;
    choose_sources(r, c);
    return c;
}
