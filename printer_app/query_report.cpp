#include "query_report.h"

#include <charconv>

namespace {

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

// The report's lines without their ends; a CR before the LF is the
// writer's platform, not part of the last field.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool to_int(std::string_view field, int32_t &value) {
    const char *end = field.data() + field.size();
    auto [ptr, error] = std::from_chars(field.data(), end, value);
    return error == std::errc() && ptr == end && !field.empty();
}

bool to_ints(const std::vector<std::string_view> &fields, size_t first, size_t count,
             int32_t *values) {
    if (fields.size() < first + count)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (!to_int(fields[first + i], values[i]))
            return false;
    return true;
}

std::string line_error(size_t number, std::string_view line) {
    return "line " + std::to_string(number) +
           " is not understood: " + std::string(line.substr(0, 120));
}

bool take_paper(const std::vector<std::string_view> &f, DriverReport &out) {
    int32_t n[11];
    if (f.size() != 13 || !to_ints(f, 1, 11, n))
        return false;
    out.papers.push_back(
        {n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8], n[9], n[10], std::string(f[12])});
    return true;
}

bool take_default(const std::vector<std::string_view> &f, DriverDefaults &d) {
    if (f.size() < 3)
        return false;
    std::vector<int32_t> values(f.size() - 2);
    if (!to_ints(f, 2, values.size(), values.data()))
        return false;
    std::string_view key = f[1];
    if (key == "resolution") {
        if (values.size() < 2)
            return false;
        d.resolution = DeviceResolution{values[0], values[1]};
    } else if (key == "paper") {
        d.paper = values[0];
    } else if (key == "bin") {
        d.bin = values[0];
    } else if (key == "color") {
        d.color = values[0];
    } else if (key == "duplex") {
        d.duplex = values[0];
    } // other defaults (orientation, copies, collate) are the job's, not the printer's
    return true;
}

bool take_flag(const std::vector<std::string_view> &f, bool &flag) {
    int32_t value;
    if (f.size() < 2 || !to_int(f[1], value))
        return false;
    flag = value != 0;
    return true;
}

// One record into `out`; false when it is not understood.
bool take_record(const std::vector<std::string_view> &f, DriverReport &out) {
    std::string_view kind = f[0];
    int32_t n[2];
    if (kind == "printer" || kind == "driver") {
        if (f.size() < 2)
            return false;
        (kind == "printer" ? out.printer : out.driver) = std::string(f[1]);
        return true;
    }
    if (kind == "color")
        return take_flag(f, out.color);
    if (kind == "duplex")
        return take_flag(f, out.duplex);
    if (kind == "collate")
        return take_flag(f, out.collate);
    if (kind == "copies") {
        if (!to_ints(f, 1, 1, n))
            return false;
        out.copies = n[0] > 1 ? n[0] : 1;
        return true;
    }
    if (kind == "resolution") {
        if (!to_ints(f, 1, 2, n))
            return false;
        out.resolutions.push_back({n[0], n[1]});
        return true;
    }
    if (kind == "bin") {
        if (f.size() < 3 || !to_ints(f, 1, 1, n))
            return false;
        out.bins.push_back({n[0], std::string(f[2])});
        return true;
    }
    if (kind == "paper")
        return take_paper(f, out);
    if (kind == "default")
        return take_default(f, out.defaults);
    return false;
}

} // namespace

bool DriverPaper::has_printable_area() const {
    return physical_width > 0 && physical_height > 0 && printable_width > 0 &&
           printable_height > 0 && dpi_x > 0 && dpi_y > 0 && offset_x >= 0 && offset_y >= 0;
}

std::string parse_printer_list(std::string_view text, std::vector<WinePrinter> &out) {
    out.clear();
    if (!text.empty() && text.back() != '\n')
        return "the printer list is cut off (its last line has no end)";
    std::vector<std::string_view> lines = split_lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string_view> f = split_fields(lines[i]);
        if (f.size() != 4 || f[0].empty() || (f[3] != "default" && f[3] != "-"))
            return line_error(i + 1, lines[i]);
        out.push_back({std::string(f[0]), std::string(f[1]), std::string(f[2]), f[3] == "default"});
    }
    return "";
}

std::string parse_driver_report(std::string_view text, DriverReport &out) {
    out = DriverReport();
    bool ended = false;
    std::vector<std::string_view> lines = split_lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (ended)
            return "line " + std::to_string(i + 1) + " follows the end";
        std::vector<std::string_view> f = split_fields(lines[i]);
        if (f.size() == 1 && f[0] == "end")
            ended = true;
        else if (!take_record(f, out))
            return line_error(i + 1, lines[i]);
    }
    if (!ended)
        return "the report is cut off (no end line)";
    if (out.papers.empty())
        return "the driver of " + out.printer + " reports no paper";
    return "";
}
