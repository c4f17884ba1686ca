// Pure: builds natively, no windows.h.
#include "printer/paper_table.h"

#include <cmath>

#include <algorithm>

// The names are carried as data only; the lookup uses the first row without
// one to find the end.
const PaperSize paper_size_table[PAPER_SIZE_ROWS + 1] = {
    {"Letter", 612, 792, 1},
    {"Letter Small", 612, 792, 2},
    {"Tabloid", 792, 1224, 3},
    {"Ledger", 1224, 792, 4},
    {"Legal", 612, 1008, 5},
    {"Statement", 396, 612, 6},
    {"Executive", 522, 756, 7},
    {"A3", 842, 1191, 8},
    {"A4", 595, 842, 9},
    {"A4 Small", 595, 842, 10},
    {"A5", 420, 595, 11},
    {"B4 (JIS)", 729, 1032, 12},
    {"B5 (JIS)", 516, 729, 13},
    {"Folio", 595, 935, 14},
    {"Quarto", 610, 780, 15},
    {"10x14", 720, 1008, 16},
    {"11x17", 792, 1224, 17},
    {"Note", 612, 792, 18},
    {"Envelope #9", 279, 639, 19},
    {"Envelope #10", 297, 684, 20},
    {"Envelope #11", 324, 747, 21},
    {"Envelope #12", 342, 792, 22},
    {"Envelope #14", 360, 828, 23},
    {"ANSI C", 1224, 1584, 24},
    {"ANSI D", 1584, 2448, 25},
    {"ANSI E", 2448, 3168, 26},
    {"Envelope DL", 312, 624, 27},
    {"Envelope C5", 459, 649, 28},
    {"Envelope C3", 918, 1296, 29},
    {"Envelope C4", 649, 918, 30},
    {"Envelope C6", 323, 459, 31},
    {"Envelope C65", 324, 648, 32},
    {"Envelope B4", 708, 1001, 33},
    {"B5 (ISO)", 499, 709, 34},
    {"Envelope B6", 499, 354, 35},
    {"Envelope Italian", 312, 652, 36},
    {"Envelope Monarch", 279, 540, 37},
    {"Envelope Personal", 261, 468, 38},
    {"US Std Fanfold", 1071, 792, 39},
    {"German Std Fanfold", 612, 864, 40},
    {"German Legal Fanfold", 612, 936, 41},
    {"B4 (ISO)", 709, 1001, 42},
    {"Japanese Postcard", 283, 420, 43},
    {"9x11", 648, 792, 44},
    {"10x11", 720, 792, 45},
    {"15x11", 1080, 792, 46},
    {"Envelope Invite", 624, 624, 47},
    {"Letter Extra", 684, 864, 50},
    {"Legal Extra", 684, 1080, 51},
    {"Tabloid Extra", 842, 1296, 52},
    {"A4 Extra", 667, 914, 53},
    {"Letter Transverse", 612, 792, 54},
    {"A4 Transverse", 595, 842, 55},
    {"Letter Extra Transverse", 684, 864, 56},
    {"SuperA/SuperA/A4", 643, 1009, 57},
    {"SuperB/SuperB/A3", 865, 1380, 58},
    {"Letter Plus", 612, 914, 59},
    {"A4 Plus", 595, 936, 60},
    {"A5 Transverse", 420, 595, 61},
    {"B5 (JIS) Transverse", 516, 729, 62},
    {"A3 Extra", 913, 1262, 63},
    {"A5 Extra", 492, 668, 64},
    {"B5 (ISO) Extra", 570, 782, 65},
    {"A2", 1191, 1684, 66},
    {"A3 Transverse", 842, 1191, 67},
    {"A3 Extra Transverse", 913, 1262, 68},
    {"Japanese Double Postcard", 567, 420, 69},
    {"A6", 297, 420, 70},
    {"Japanese Envelope Kaku #2", 680, 941, 71},
    {"Japanese Envelope Kaku #3", 612, 785, 72},
    {"Japanese Envelope Chou #3", 340, 666, 73},
    {"Japanese Envelope Chou #4", 255, 581, 74},
    {"Letter Rotated", 792, 612, 75},
    {"A3 Rotated", 1191, 842, 76},
    {"A4 Rotated", 842, 595, 77},
    {"A5 Rotated", 595, 420, 78},
    {"B4 (JIS) Rotated", 1032, 729, 79},
    {"B5 (JIS) Rotated", 729, 516, 80},
    {"Japanese Postcard Rotated", 420, 283, 81},
    {"Double Japanese Postcard Rotated", 420, 567, 82},
    {"A6 Rotated", 420, 297, 83},
    {"Japanese Envelope Kaku #2 Rotated", 941, 680, 84},
    {"Japanese Envelope Kaku #3 Rotated", 785, 612, 85},
    {"Japanese Envelope Chou #3 Rotated", 666, 340, 86},
    {"Japanese Envelope Chou #4 Rotated", 581, 255, 87},
    {"B6 (JIS)", 363, 516, 88},
    {"B6 (JIS) Rotated", 516, 363, 89},
    {"12x11", 864, 792, 90},
    {"Japanese Envelope You #4", 298, 666, 91},
    {"Japanese Envelope You #4 Rotated", 666, 298, 92},
    {"PRC 16K", 414, 610, 93},
    {"PRC 32K", 275, 428, 94},
    {"PRC 32K(Big)", 275, 428, 95},
    {"PRC Envelope #1", 289, 468, 96},
    {"PRC Envelope #2", 289, 500, 97},
    {"PRC Envelope #3", 354, 500, 98},
    {"PRC Envelope #4", 312, 590, 99},
    {"PRC Envelope #5", 312, 624, 100},
    {"PRC Envelope #6", 340, 652, 101},
    {"PRC Envelope #7", 454, 652, 102},
    {"PRC Envelope #8", 340, 876, 103},
    {"PRC Envelope #9", 649, 918, 104},
    {"PRC Envelope #10", 918, 1298, 105},
    {"PRC 16K Rotated", 610, 414, 106},
    {"PRC 32K Rotated", 428, 275, 107},
    {"PRC 32K(Big) Rotated", 428, 275, 108},
    {"PRC Envelope #1 Rotated", 468, 289, 109},
    {"PRC Envelope #2 Rotated", 500, 289, 110},
    {"PRC Envelope #3 Rotated", 500, 354, 111},
    {"PRC Envelope #4 Rotated", 590, 312, 112},
    {"PRC Envelope #5 Rotated", 624, 312, 113},
    {"PRC Envelope #6 Rotated", 652, 340, 114},
    {"PRC Envelope #7 Rotated", 652, 454, 115},
    {"PRC Envelope #8 Rotated", 876, 340, 116},
    {"PRC Envelope #9 Rotated", 918, 649, 117},
    {"PRC Envelope #10 Rotated", 1298, 918, 118},
    {nullptr, 0, 0, 0},
};

std::optional<int32_t> find_paper_code(uint32_t width, uint32_t height) {
    for (const PaperSize *row = paper_size_table; row->name; row++) {
        if (uint32_t(row->height) == height && uint32_t(row->width) == width)
            return row->paper_code;
    }
    return std::nullopt;
}

namespace {

// Tenths of a millimetre exactly (254 per 72 points), as drivers list their
// papers; not the 3.53 that explicit sizes are stored with.
double exact_tenths_mm(uint32_t points) {
    return points * 254.0 / 72;
}

} // namespace

std::optional<int32_t> find_driver_paper(uint32_t width, uint32_t height,
                                         const std::vector<DriverPaper> &papers,
                                         std::optional<int32_t> preferred) {
    const double want_width = exact_tenths_mm(width), want_height = exact_tenths_mm(height);
    std::optional<int32_t> nearest;
    double nearest_distance = 0;
    for (const DriverPaper &paper : papers) {
        const double off_width = std::abs(paper.width - want_width);
        const double off_height = std::abs(paper.height - want_height);
        if (off_width > DRIVER_PAPER_TOLERANCE || off_height > DRIVER_PAPER_TOLERANCE)
            continue;
        if (paper.code == preferred)
            return paper.code;
        if (!nearest || off_width + off_height < nearest_distance) {
            nearest = paper.code;
            nearest_distance = off_width + off_height;
        }
    }
    return nearest;
}

std::optional<int32_t> find_enclosing_driver_paper(uint32_t width, uint32_t height,
                                                   const std::vector<DriverPaper> &papers) {
    const double want_width = exact_tenths_mm(width), want_height = exact_tenths_mm(height);
    const DriverPaper *smallest = nullptr;
    for (const DriverPaper &paper : papers) {
        if (paper.width + DRIVER_PAPER_TOLERANCE < want_width ||
            paper.height + DRIVER_PAPER_TOLERANCE < want_height)
            continue;
        if (!smallest ||
            double(paper.width) * paper.height < double(smallest->width) * smallest->height)
            smallest = &paper;
    }
    return smallest ? std::optional<int32_t>(smallest->code) : std::nullopt;
}

namespace {

bool takes_custom_size(const CustomPaperRange &custom, uint32_t width, uint32_t height) {
    const double want_width = exact_tenths_mm(width), want_height = exact_tenths_mm(height);
    return custom.max_width > 0 && custom.max_height > 0 && want_width >= custom.min_width &&
           want_height >= custom.min_height && want_width <= custom.max_width &&
           want_height <= custom.max_height;
}

} // namespace

std::optional<int32_t> choose_driver_paper(uint32_t width, uint32_t height,
                                           const std::vector<DriverPaper> &papers,
                                           const CustomPaperRange &custom) {
    const std::optional<int32_t> code = find_paper_code(width, height);
    if (auto listed = find_driver_paper(width, height, papers, code))
        return listed;
    if (auto turned = find_driver_paper(height, width, papers, find_paper_code(height, width)))
        return turned;
    if (takes_custom_size(custom, width, height))
        return std::nullopt;
    return code ? code : find_enclosing_driver_paper(width, height, papers);
}

int16_t points_to_tenths_mm(uint32_t points) {
    double tenths = points * TENTHS_MM_PER_POINT;
    // Clamped rather than wrapped: a wrapped size would turn negative or tiny.
    return int16_t(std::min<double>(tenths, INT16_MAX));
}
