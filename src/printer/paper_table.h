// Pure: builds natively, no windows.h.
// Standard paper codes for page sizes given in points (1/72 inch), and the
// conversion to tenths of a millimetre for sizes without a code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct PaperSize {
    const char *name; // null only in the terminating row
    int32_t width;    // points
    int32_t height;   // points
    int32_t paper_code;
};

constexpr size_t PAPER_SIZE_ROWS = 116;

// Rows in ascending code order, then one all-zero terminating row. Several
// rows share a size; only the first of them is ever found.
extern const PaperSize paper_size_table[PAPER_SIZE_ROWS + 1];

// Tenths of a millimetre per point, as drivers expect them in dmPaperLength
// and dmPaperWidth.
constexpr double TENTHS_MM_PER_POINT = 3.53;

// The code of the first row whose size equals width x height exactly; no
// tolerance and no rotation.
std::optional<int32_t> find_paper_code(uint32_t width, uint32_t height);

// One of a driver's own papers (DC_PAPERS, DC_PAPERSIZE).
struct DriverPaper {
    int32_t code;
    int32_t width;  // tenths of a millimetre
    int32_t height; // tenths of a millimetre
};

// How far a requested size may lie from a driver's paper, in tenths of a
// millimetre on each side: sizes in whole points are up to half a point
// (0.18 mm) off, and some drivers round their papers to whole millimetres.
constexpr int32_t DRIVER_PAPER_TOLERANCE = 20;

// The code of the driver's paper nearest to width x height points, when one
// lies within the tolerance on both sides; `preferred` (the standard code of
// that size) wins among papers within it, as drivers list one paper under
// several names (Letter and ANSI A).
std::optional<int32_t> find_driver_paper(uint32_t width, uint32_t height,
                                         const std::vector<DriverPaper> &papers,
                                         std::optional<int32_t> preferred = std::nullopt);

// The code of the smallest of the driver's papers that holds width x height
// points (within the tolerance): where a driver ignores explicit sizes, a
// page of a size it lacks is fitted onto that paper.
std::optional<int32_t> find_enclosing_driver_paper(uint32_t width, uint32_t height,
                                                   const std::vector<DriverPaper> &papers);

// The explicit sizes a driver takes (DC_MINEXTENT to DC_MAXEXTENT), in
// tenths of a millimetre; all zero for a driver that takes none.
struct CustomPaperRange {
    int32_t min_width = 0, min_height = 0, max_width = 0, max_height = 0;
};

// The paper code for a page of width x height points: the driver's own paper
// of that size (many drivers ignore explicit sizes, and standard codes they
// do not list), else its paper of the turned size (a landscape page on the
// paper it lists upright); none, for the explicit size, where the driver
// takes custom sizes in that range; else the standard code, else its
// smallest paper that holds the page.
std::optional<int32_t> choose_driver_paper(uint32_t width, uint32_t height,
                                           const std::vector<DriverPaper> &papers,
                                           const CustomPaperRange &custom = {});

// points x 3.53, truncated toward zero and clamped to what the signed 16-bit
// device-mode fields can hold (sizes above about 9282 points).
int16_t points_to_tenths_mm(uint32_t points);
