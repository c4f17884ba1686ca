// What tavri-printer-query reports about a Wine prefix, read into plain
// structs: `printers` (one Wine printer a line) and `capabilities NAME`
// (one driver's flags, resolutions, bins, papers and defaults, closed by
// `end`). Fields are TAB-separated UTF-8; a report that is cut off is
// refused rather than taken for a printer with fewer papers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct WinePrinter {
    std::string name, driver, port;
    bool is_default = false;
};

struct DeviceResolution {
    int32_t x = 0, y = 0; // dots per inch
};

struct DriverBin {
    int32_t id = 0;
    std::string name;
};

// A paper as the driver measured it: the physical page and its printable
// area in device pixels at dpi_x by dpi_y.
struct DriverPaper {
    int32_t id = 0;
    int32_t width = 0, height = 0; // tenths of a millimetre
    int32_t physical_width = 0, physical_height = 0, offset_x = 0, offset_y = 0;
    int32_t printable_width = 0, printable_height = 0, dpi_x = 0, dpi_y = 0;
    std::string name;

    // Whether the driver could say where the printable area lies.
    bool has_printable_area() const;
};

// The driver's own defaults; absent when it gave none.
struct DriverDefaults {
    std::optional<int32_t> paper, bin, color, duplex;
    std::optional<DeviceResolution> resolution;
};

struct DriverReport {
    std::string printer, driver;
    bool color = false, duplex = false, collate = false;
    int32_t copies = 1;
    std::vector<DeviceResolution> resolutions;
    std::vector<DriverBin> bins;
    std::vector<DriverPaper> papers;
    DriverDefaults defaults;
};

// Each returns an empty string on success, else what is wrong, naming the
// line; `out` is complete only on success.
std::string parse_printer_list(std::string_view text, std::vector<WinePrinter> &out);
std::string parse_driver_report(std::string_view text, DriverReport &out);
