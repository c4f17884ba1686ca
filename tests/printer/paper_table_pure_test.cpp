#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "printer/paper_table.h"

namespace {

struct LookupCase {
    const char *row;
    uint32_t width;
    uint32_t height;
    std::optional<int32_t> code;
};

std::string show(std::optional<int32_t> code) {
    return code ? std::to_string(*code) : "none";
}

const LookupCase LOOKUP_CASES[] = {
    {"Letter, not Letter Small or Note", 612, 792, 1},
    {"Tabloid, not 11x17", 792, 1224, 3},
    {"A4 Rotated: rows exist for rotated sizes", 842, 595, 77},
    {"terminating row never matches", 0, 0, std::nullopt},
    {"no tolerance", 596, 842, std::nullopt},
    {"width alone matches a row", 612, 0, std::nullopt},
};

} // namespace

TEST(FindPaperCode, TableDrivenSizes) {
    for (const LookupCase &c : LOOKUP_CASES) {
        std::optional<int32_t> code = find_paper_code(c.width, c.height);
        EXPECT_EQ(show(c.code), show(code))
            << c.row << ": " << c.width << " x " << c.height << " gave " << show(code)
            << ", expected " << show(c.code);
    }
}

TEST(PointsToTenthsMm, TruncatesAndClamps) {
    struct Case {
        const char *what;
        uint32_t points;
        int16_t tenths;
    };
    const Case cases[] = {
        {"596 x 3.53 = 2103.88, truncated", 596, 2103},
        {"842 x 3.53 = 2972.26, truncated", 842, 2972},
        {"largest size that fits", 9282, 32765},
        {"first size past the field, clamped", 9283, 32767},
        {"largest request, clamped", 65535, 32767},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.tenths, points_to_tenths_mm(c.points))
            << c.what << ": got " << points_to_tenths_mm(c.points) << ", expected " << c.tenths;
}
