// Raster lines into BMP pages: layout, limits, conversion, and the file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <cups/raster.h>
#include <unistd.h>

#include "page_image.h"
#include "imaging/bmp_file.h"

TEST(PageImage, KindsLimitsAndLayout) {
    EXPECT_EQ(PixelKind::RGB_8, pixel_kind(CUPS_CSPACE_SRGB, 8, 24));
    EXPECT_EQ(PixelKind::GRAY_8, pixel_kind(CUPS_CSPACE_SW, 8, 8));
    EXPECT_EQ(PixelKind::INK_8, pixel_kind(CUPS_CSPACE_K, 8, 8));
    EXPECT_EQ(PixelKind::BLACK_1, pixel_kind(CUPS_CSPACE_K, 1, 1));
    EXPECT_EQ(std::nullopt, pixel_kind(CUPS_CSPACE_SRGB, 16, 48));
    EXPECT_EQ(std::nullopt, pixel_kind(CUPS_CSPACE_CMYK, 8, 32));

    const uint64_t GIB = 1ull << 30;
    const struct {
        uint32_t width, height, bytes_per_line;
        PixelKind kind;
        uint64_t limit;
        PageRefusal refusal;
        uint32_t stride, pixel_offset;
    } rows[] = {
        {1, 1, 3, PixelKind::RGB_8, GIB, PageRefusal::NONE, 4, 54},
        {5, 2, 15, PixelKind::RGB_8, GIB, PageRefusal::NONE, 16, 54},
        {5, 2, 5, PixelKind::GRAY_8, GIB, PageRefusal::NONE, 8, 54 + 1024},
        {33, 2, 5, PixelKind::BLACK_1, GIB, PageRefusal::NONE, 8, 54 + 8},
        {33, 2, 4, PixelKind::BLACK_1, GIB, PageRefusal::SHORT_LINE, 0, 0},
        {5, 2, 14, PixelKind::RGB_8, GIB, PageRefusal::SHORT_LINE, 0, 0},
        {0, 2, 15, PixelKind::RGB_8, GIB, PageRefusal::EMPTY, 0, 0},
        {5, 0, 15, PixelKind::RGB_8, GIB, PageRefusal::EMPTY, 0, 0},
        {65536, 1, 196608, PixelKind::RGB_8, GIB, PageRefusal::TOO_WIDE, 0, 0},
        {1, 0xFFFFFFFF, 3, PixelKind::RGB_8, GIB, PageRefusal::TOO_WIDE, 0, 0},
        // A4 at 1200 dpi in colour: 418 MB; 65535 square: more than 4 GiB.
        {9921, 14031, 29763, PixelKind::RGB_8, GIB, PageRefusal::NONE, 29764, 54},
        {9921, 14031, 29763, PixelKind::RGB_8, 390u << 20, PageRefusal::TOO_LARGE, 0, 0},
        {65535, 65535, 196605, PixelKind::RGB_8, ~0ull, PageRefusal::TOO_LARGE, 0, 0},
        {2, 2, 0xFFFFFFFF, PixelKind::RGB_8, GIB, PageRefusal::NONE, 8, 54},
    };
    for (const auto &row : rows) {
        RasterFormat format{row.width, row.height, row.bytes_per_line, 300, 300, row.kind};
        BmpLayout layout;
        ASSERT_EQ(row.refusal, plan_page(format, row.limit, layout))
            << row.width << " x " << row.height;
        if (row.refusal != PageRefusal::NONE)
            continue;
        EXPECT_EQ(row.stride, layout.stride);
        EXPECT_EQ(row.pixel_offset, layout.pixel_offset);
        EXPECT_EQ(row.pixel_offset + uint64_t(row.stride) * row.height, layout.file_size);
    }
}

// Every kind's page, written line by line, passes the program's own BMP
// check, stores the top line last and keeps what the values mean.
TEST(PageImage, FilesPassTheProgramsCheckBottomUp) {
    std::string folder = make_page_folder("tavri-app-test");
    ASSERT_FALSE(folder.empty());
    const struct {
        PixelKind kind;
        std::vector<unsigned char> top, bottom; // raster lines, 3 pixels wide
        std::vector<unsigned char> stored_bottom_row, stored_top_row;
        uint32_t first_colour; // palette entry 0, 0x00RRGGBB
    } rows[] = {
        {PixelKind::RGB_8,
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {9, 9, 9, 0, 0, 0, 255, 0, 0},
         {9, 9, 9, 0, 0, 0, 0, 0, 255, 0, 0, 0},
         {3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0},
         0},
        {PixelKind::GRAY_8, {0, 128, 255}, {7, 7, 7}, {7, 7, 7, 0}, {0, 128, 255, 0}, 0},
        {PixelKind::INK_8, {0, 128, 255}, {7, 7, 7}, {7, 7, 7, 0}, {0, 128, 255, 0}, 0xFFFFFF},
        {PixelKind::BLACK_1, {0xA0}, {0xE0}, {0xE0, 0, 0, 0}, {0xA0, 0, 0, 0}, 0xFFFFFF},
        {PixelKind::WHITE_1, {0xA0}, {0xFF}, {0xFF, 0, 0, 0}, {0xA0, 0, 0, 0}, 0},
    };
    unsigned number = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.kind));
        RasterFormat format{3, 2, uint32_t(row.top.size()), 600, 600, row.kind};
        PageFile page;
        std::string error;
        ASSERT_TRUE(page_file_create(page, folder, ++number, format, 1 << 20, error)) << error;
        EXPECT_FALSE(page_file_write_line(page, 2, row.top.data(), row.top.size()));
        EXPECT_FALSE(page_file_write_line(page, 0, row.top.data(), row.top.size() - 1));
        ASSERT_TRUE(page_file_write_line(page, 0, row.top.data(), row.top.size()));
        ASSERT_TRUE(page_file_write_line(page, 1, row.bottom.data(), row.bottom.size()));
        ASSERT_TRUE(page_file_finish(page));
        std::ifstream in(page.path, std::ios::binary);
        std::vector<unsigned char> file{std::istreambuf_iterator<char>(in), {}};
        BmpPage checked;
        ASSERT_EQ(BmpProblem::NONE, check_bmp_page(file.data(), file.size(), &checked));
        EXPECT_EQ(3, checked.width);
        EXPECT_EQ(2, checked.height);
        EXPECT_EQ(row.first_colour, checked.info.colours[0]);
        size_t stride = row.stored_top_row.size();
        ASSERT_EQ(checked.bits_offset + 2 * stride, file.size());
        auto bottom = file.begin() + checked.bits_offset;
        EXPECT_EQ(row.stored_bottom_row, std::vector<unsigned char>(bottom, bottom + stride));
        EXPECT_EQ(row.stored_top_row,
                  std::vector<unsigned char>(bottom + stride, bottom + 2 * stride));
        std::string path = page.path;
        page_file_discard(page);
        EXPECT_NE(0, access(path.c_str(), F_OK));
    }
    rmdir(folder.c_str());
}
