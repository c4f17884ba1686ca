// Pure: builds natively, no windows.h.
// The text that tavri-printer-query writes about the installed printers and
// what a driver offers: one record a line, fields separated by TAB, read by
// the Linux side to build a PPD. Pure logic; wide text, converted to UTF-8
// by the writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PrinterEntry {
    std::wstring name, driver, port;
    bool is_default = false;
};

struct Resolution {
    int32_t x = 0, y = 0; // dots per inch
};

struct PaperBin {
    int32_t id = 0;
    std::wstring name;
};

// What the driver's information context reports for a paper; all zero when
// no context could be made for it.
struct PaperMetrics {
    int32_t physical_width = 0, physical_height = 0, offset_x = 0, offset_y = 0;
    int32_t printable_width = 0, printable_height = 0, dpi_x = 0, dpi_y = 0;
};

struct Paper {
    int32_t id = 0;
    int32_t width = 0, height = 0; // tenths of a millimetre
    PaperMetrics metrics;
    std::wstring name;
};

// The driver's default device mode: a setting is present only when its
// field bit is set.
struct DefaultSettings {
    std::optional<int32_t> paper, bin;
    std::optional<Resolution> resolution;
    std::optional<int32_t> color, duplex, orientation, copies, collate;
};

struct PrinterCapabilities {
    std::wstring printer, driver;
    bool color = false, duplex = false, collate = false;
    int32_t copies = 0;
    std::vector<Resolution> resolutions;
    std::vector<PaperBin> bins;
    std::vector<Paper> papers;
    DefaultSettings defaults;
};

// `name` with every TAB, CR and LF replaced by a space, so that it stays one field.
std::wstring field_text(std::wstring_view name);

// One line a printer: NAME, DRIVER, PORT and "default" or "-".
std::wstring format_printer_list(const std::vector<PrinterEntry> &printers);

// The capability record, closed by the line "end".
std::wstring format_capabilities(const PrinterCapabilities &capabilities);
