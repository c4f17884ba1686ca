#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
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
    {"A4, not A4 Small or A4 Transverse", 595, 842, 9},
    {"Tabloid, not 11x17", 792, 1224, 3},
    {"PRC 32K, not PRC 32K(Big)", 275, 428, 94},
    {"Envelope DL, not PRC Envelope #5", 312, 624, 27},
    {"A4 Rotated: rows exist for rotated sizes", 842, 595, 77},
    {"last row", 1298, 918, 118},
    {"Envelope B6, wider than high", 499, 354, 35},
    {"terminating row never matches", 0, 0, std::nullopt},
    {"no tolerance", 596, 842, std::nullopt},
    {"no orientation swap", 800, 600, std::nullopt},
    {"width alone matches a row", 612, 0, std::nullopt},
    {"width and height of different rows", 595, 792, std::nullopt},
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

TEST(PaperSizeTable, HasItsRowsInAscendingCodeOrderAndAZeroTerminator) {
    size_t rows = 0;
    while (paper_size_table[rows].name)
        rows++;
    EXPECT_EQ(PAPER_SIZE_ROWS, rows) << "rows before the terminator";
    const PaperSize &end = paper_size_table[PAPER_SIZE_ROWS];
    EXPECT_EQ(nullptr, end.name);
    EXPECT_EQ(0, end.width);
    EXPECT_EQ(0, end.height);
    EXPECT_EQ(0, end.paper_code);

    EXPECT_EQ(1, paper_size_table[0].paper_code);
    EXPECT_EQ(118, paper_size_table[PAPER_SIZE_ROWS - 1].paper_code);
    for (size_t i = 1; i < PAPER_SIZE_ROWS; i++) {
        int32_t previous = paper_size_table[i - 1].paper_code;
        int32_t code = paper_size_table[i].paper_code;
        EXPECT_LT(previous, code) << "row " << i << " (" << paper_size_table[i].name << ")";
        EXPECT_NE(48, code);
        EXPECT_NE(49, code);
    }
}

TEST(PaperSizeTable, NamesAreStoredExactly) {
    struct Named {
        int32_t code;
        const char *name;
    };
    const Named samples[] = {{1, "Letter"},
                             {12, "B4 (JIS)"},
                             {47, "Envelope Invite"},
                             {50, "Letter Extra"},
                             {57, "SuperA/SuperA/A4"},
                             {95, "PRC 32K(Big)"},
                             {118, "PRC Envelope #10 Rotated"}};
    for (const Named &s : samples) {
        const PaperSize *row = paper_size_table;
        while (row->name && row->paper_code != s.code)
            row++;
        EXPECT_STREQ(s.name, row->name) << "code " << s.code;
    }
}

// Every row whose size an earlier row already has is unreachable; exactly
// these fifteen codes are.
TEST(FindPaperCode, NeverReturnsAShadowedRow) {
    const std::set<int32_t> shadowed = {2,  10, 17, 18, 54,  55,  56, 61,
                                        62, 67, 68, 95, 100, 104, 108};
    std::set<int32_t> unreachable;
    for (size_t i = 0; i < PAPER_SIZE_ROWS; i++) {
        const PaperSize &row = paper_size_table[i];
        std::optional<int32_t> found = find_paper_code(uint32_t(row.width), uint32_t(row.height));
        ASSERT_TRUE(found) << row.name;
        EXPECT_FALSE(shadowed.count(*found)) << row.name << " gave shadowed code " << *found;
        if (*found != row.paper_code)
            unreachable.insert(row.paper_code);
    }
    EXPECT_EQ(shadowed, unreachable);
}

TEST(PointsToTenthsMm, TruncatesAndClamps) {
    struct Case {
        const char *what;
        uint32_t points;
        int16_t tenths;
    };
    const Case cases[] = {
        {"600 x 3.53 = 2118", 600, 2118},
        {"596 x 3.53 = 2103.88, truncated", 596, 2103},
        {"842 x 3.53 = 2972.26, truncated", 842, 2972},
        {"zero", 0, 0},
        {"largest size that fits", 9282, 32765},
        {"first size past the field, clamped", 9283, 32767},
        {"largest request, clamped", 65535, 32767},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.tenths, points_to_tenths_mm(c.points))
            << c.what << ": got " << points_to_tenths_mm(c.points) << ", expected " << c.tenths;
}
