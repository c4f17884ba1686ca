#include "capabilities_json.h"

#include <algorithm>
#include <cstdio>

namespace {

const char *boolean(bool value) {
    return value ? "true" : "false";
}

std::string millimetres(int32_t hundredths) {
    char text[32];
    snprintf(text, sizeof text, "%.2f", hundredths / 100.0);
    return text;
}

// Points with at most two decimals, as a JSON number.
std::string points(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out;
}

std::string resolution(const DeviceResolution &r) {
    return "{\"x\": " + std::to_string(r.x) + ", \"y\": " + std::to_string(r.y) + "}";
}

const DriverPaper *paper_of(const DriverReport &report, int32_t id) {
    for (const DriverPaper &paper : report.papers)
        if (paper.id == id)
            return &paper;
    return nullptr;
}

// The printable area in points from the paper's lower left corner, as a
// PPD's *ImageableArea gives it: left, bottom, right, top, within the
// paper; the whole paper where the driver does not say, or says nonsense.
std::string printable(const DriverPaper *p, const MediaChoice &m) {
    double width = m.points >> 16, height = m.points & 0xFFFF;
    double area[4] = {0, 0, width, height};
    if (p && p->has_printable_area()) {
        double x = 72.0 / p->dpi_x, y = 72.0 / p->dpi_y;
        double found[4] = {std::max(0.0, p->offset_x * x),
                           std::max(0.0, height - (double(p->offset_y) + p->printable_height) * y),
                           std::min(width, (double(p->offset_x) + p->printable_width) * x),
                           std::min(height, height - p->offset_y * y)};
        if (found[0] < found[2] && found[1] < found[3])
            std::copy(found, found + 4, area);
    }
    return "[" + points(area[0]) + ", " + points(area[1]) + ", " + points(area[2]) + ", " +
           points(area[3]) + "]";
}

std::string bin_name(const DriverReport &report, int32_t id) {
    for (const DriverBin &bin : report.bins)
        if (bin.id == id)
            return bin.name;
    return "";
}

std::string papers(const DriverReport &report, const DriverChoices &c) {
    std::string out;
    for (const MediaChoice &m : c.media) {
        const DriverPaper *paper = paper_of(report, m.paper_id);
        out += std::string(out.empty() ? "" : ",") + "\n    {\"pwg\": " + json_string(m.pwg_name) +
               ", \"name\": " + json_string(paper ? paper->name : "") +
               ", \"paper\": " + std::to_string(m.paper_id) +
               ", \"width_mm\": " + millimetres(m.width) +
               ", \"length_mm\": " + millimetres(m.length) +
               ", \"width_pt\": " + std::to_string(m.points >> 16) +
               ", \"length_pt\": " + std::to_string(m.points & 0xFFFF) +
               ", \"printable_pt\": " + printable(paper, m) + "}";
    }
    return "[" + out + "\n  ]";
}

std::string sources(const DriverReport &report, const DriverChoices &c) {
    std::string out;
    for (const SourceChoice &s : c.sources)
        out += std::string(out.empty() ? "" : ",") +
               "\n    {\"keyword\": " + json_string(s.keyword) +
               ", \"bin\": " + std::to_string(s.bin_id) +
               ", \"name\": " + json_string(bin_name(report, s.bin_id)) + "}";
    return "[" + out + "\n  ]";
}

std::string resolutions(const DriverChoices &c) {
    std::string out;
    for (const DeviceResolution &r : c.resolutions)
        out += std::string(out.empty() ? "" : ", ") + resolution(r);
    return "[" + out + "]";
}

std::string defaults(const DriverChoices &c) {
    static const char *const sides[] = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
    std::string paper = c.default_media < c.media.size() ? c.media[c.default_media].pwg_name : "";
    std::string source =
        c.default_source < c.sources.size() ? c.sources[c.default_source].keyword : "";
    return "{\"paper\": " + json_string(paper) +
           ", \"resolution\": " + resolution(c.default_resolution) +
           ", \"color\": " + boolean(c.color_default) +
           ", \"sides\": " + json_string(sides[int(c.sides_default)]) +
           ", \"source\": " + json_string(source) + "}";
}

} // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string capabilities_json(const DriverReport &report, const DriverChoices &c) {
    return "{\n  \"printer\": " + json_string(report.printer) +
           ",\n  \"driver\": " + json_string(report.driver) +
           ",\n  \"color\": " + boolean(c.color) + ",\n  \"duplex\": " + boolean(c.duplex) +
           ",\n  \"collate\": " + boolean(report.collate) +
           ",\n  \"copies\": " + std::to_string(report.copies) +
           ",\n  \"papers\": " + papers(report, c) + ",\n  \"resolutions\": " + resolutions(c) +
           ",\n  \"sources\": " + sources(report, c) + ",\n  \"defaults\": " + defaults(c) +
           "\n}\n";
}
