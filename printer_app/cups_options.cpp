#include "cups_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <cstdio>

#include <cups/cups.h>
#include <strings.h>

namespace {

constexpr uint32_t MAX_DPI = 9600;

using Options = std::map<std::string, std::string>;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// cupsd's options by lower-case name, the last of a name winning.
Options parse(const std::string &text) {
    cups_option_t *options = nullptr;
    int count = cupsParseOptions(text.c_str(), 0, &options);
    Options found;
    for (int i = 0; i < count; ++i)
        found[lower(options[i].name)] = options[i].value;
    cupsFreeOptions(count, options);
    return found;
}

// The value of the first of `names` that the job has, in lower case.
std::string value_of(const Options &options, std::initializer_list<const char *> names) {
    for (const char *name : names)
        if (auto at = options.find(name); at != options.end() && !at->second.empty())
            return lower(at->second);
    return "";
}

// A whole number of 1 to `highest` that is all of `text`.
std::optional<uint32_t> whole(std::string_view text, uint32_t highest) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.size() > 5 || value == 0 ||
        value > highest)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> sides(const std::string &value) {
    static const std::map<std::string, uint32_t> known = {{"one-sided", 1},
                                                          {"none", 1},
                                                          {"two-sided-long-edge", 2},
                                                          {"duplexnotumble", 2},
                                                          {"two-sided-short-edge", 3},
                                                          {"duplextumble", 3}};
    auto at = known.find(value);
    return at == known.end() ? std::nullopt : std::optional(at->second);
}

std::optional<PageColour> colour(const std::string &value) {
    static const std::map<std::string, PageColour> known = {
        {"monochrome", PageColour::GREY}, {"gray", PageColour::GREY},   {"grey", PageColour::GREY},
        {"bi-level", PageColour::MONO},   {"color", PageColour::COLOR}, {"rgb", PageColour::COLOR},
        {"auto", PageColour::COLOR}};
    auto at = known.find(value);
    return at == known.end() ? std::nullopt : std::optional(at->second);
}

// Resolution=600dpi or 300x600dpi, else print-quality's draft, normal, high.
void read_resolution(const Options &options, CupsJobChoices &c) {
    std::string resolution = value_of(options, {"resolution"});
    if (resolution.size() > 3 && resolution.ends_with("dpi")) {
        std::string_view both(resolution.data(), resolution.size() - 3);
        size_t x = both.find('x');
        auto across = whole(both.substr(0, x), MAX_DPI);
        auto down = x == std::string_view::npos ? across : whole(both.substr(x + 1), MAX_DPI);
        if (across && down)
            c.quality = int32_t(*across), c.y_dpi = *down;
        return;
    }
    static const std::map<std::string, int32_t> qualities = {
        {"3", -1}, {"4", -3}, {"5", -4}, {"draft", -1}, {"normal", -3}, {"high", -4}};
    if (auto at = qualities.find(value_of(options, {"print-quality"})); at != qualities.end())
        c.quality = at->second;
}

// Custom.WxH with an optional unit (pt, in, cm, mm): the paper's sides in
// points, the shorter first.
std::optional<uint32_t> custom_paper(const std::string &value) {
    if (!value.starts_with("custom."))
        return std::nullopt;
    static const std::map<std::string, double> units = {
        {"", 1}, {"pt", 1}, {"in", 72}, {"cm", 72 / 2.54}, {"mm", 72 / 25.4}};
    double width = 0, height = 0;
    int used = 0;
    if (sscanf(value.c_str() + 7, "%lfx%lf%n", &width, &height, &used) != 2)
        return std::nullopt;
    std::string rest = value.substr(7 + size_t(used));
    auto scale = units.find(rest);
    if (scale == units.end() || !(width > 0 && width < 10000 && height > 0 && height < 10000))
        return std::nullopt;
    uint32_t a = uint32_t(std::lround(width * scale->second));
    uint32_t b = uint32_t(std::lround(height * scale->second));
    if (a > b)
        std::swap(a, b);
    if (a == 0 || b > 0xFFFF)
        return std::nullopt;
    return a << 16 | b;
}

} // namespace

CupsJobChoices read_cups_options(const std::string &text) {
    Options options = parse(text);
    CupsJobChoices c;
    c.duplex = sides(value_of(options, {"duplex", "sides"}));
    c.colour = colour(value_of(options, {"colormodel", "print-color-mode"}));
    read_resolution(options, c);
    c.paper = custom_paper(value_of(options, {"media", "pagesize"}));
    std::string slot = value_of(options, {"inputslot"});
    if (slot.starts_with("bin"))
        if (auto bin = whole(std::string_view(slot).substr(3), 0x7FFF))
            c.paper_source = bin;
    return c;
}
