#include "capabilities_json.h"

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

std::string resolution(const DeviceResolution &r) {
    return "{\"x\": " + std::to_string(r.x) + ", \"y\": " + std::to_string(r.y) + "}";
}

std::string paper_name(const DriverReport &report, int32_t id) {
    for (const DriverPaper &paper : report.papers)
        if (paper.id == id)
            return paper.name;
    return "";
}

std::string bin_name(const DriverReport &report, int32_t id) {
    for (const DriverBin &bin : report.bins)
        if (bin.id == id)
            return bin.name;
    return "";
}

std::string papers(const DriverReport &report, const DriverChoices &c) {
    std::string out;
    for (const MediaChoice &m : c.media)
        out += std::string(out.empty() ? "" : ",") + "\n    {\"pwg\": " + json_string(m.pwg_name) +
               ", \"name\": " + json_string(paper_name(report, m.paper_id)) +
               ", \"paper\": " + std::to_string(m.paper_id) +
               ", \"width_mm\": " + millimetres(m.width) +
               ", \"length_mm\": " + millimetres(m.length) +
               ", \"width_pt\": " + std::to_string(m.points >> 16) +
               ", \"length_pt\": " + std::to_string(m.points & 0xFFFF) + "}";
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
