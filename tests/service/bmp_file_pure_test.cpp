// Page file checks, the drawing header built from a file, the choice of
// placement and the drive C: folder: pure logic, also run natively under
// ASan/UBSan, where any read past a file's buffer fails the test.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/bmp_file.h"
#include "service/drive_c_path.h"
#include "service/page_placement.h"
#include "service/bmp_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The file copied into a buffer of exactly its size, so that the sanitizer
// sees any read beyond it.
BmpProblem check_exact(const Bytes &file, BmpPage *page) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
    memcpy(copy.get(), file.data(), file.size());
    return check_bmp_page(copy.get(), file.size(), page);
}

struct RefusedRow {
    const char *name;
    std::function<Bytes()> file;
    BmpProblem expected;
};

Bytes with_spec(const std::function<void(BmpLayout &)> &edit) {
    BmpLayout layout;
    edit(layout);
    return build_bmp(layout);
}

Bytes cut(Bytes file, size_t size) {
    file.resize(size);
    return file;
}

Bytes patched32(Bytes file, size_t at, uint32_t value) {
    put32(file, at, value);
    return file;
}

TEST(BmpCheck, RefusesFilesItCannotBound) {
    const RefusedRow rows[] = {
        {"file header only", [] { return cut(build_bmp({}), 14); }, BmpProblem::HEADERS_BEYOND_END},
        {"information header cut at 30 bytes", [] { return cut(build_bmp({}), 44); },
         BmpProblem::HEADERS_BEYOND_END},
        {"biSize far beyond the file", [] { return patched32(build_bmp({}), 14, 0xFFFFFFF0); },
         BmpProblem::HEADERS_BEYOND_END},
        {"core header of 12 bytes",
         [] { return with_spec([](BmpLayout &s) { s.info_size = 12; }); },
         BmpProblem::UNSUPPORTED_HEADER},
        {"zero width", [] { return with_spec([](BmpLayout &s) { s.width = 0; }); },
         BmpProblem::BAD_DIMENSIONS},
        {"height INT32_MIN", [] { return patched32(build_bmp({}), 22, 0x80000000u); },
         BmpProblem::BAD_DIMENSIONS},
        {"bit count 2", [] { return with_spec([](BmpLayout &s) { s.bits = 2; }); },
         BmpProblem::UNSUPPORTED_FORMAT},
        {"RLE8", [] { return with_spec([](BmpLayout &s) { s.bits = 8, s.compression = 1; }); },
         BmpProblem::UNSUPPORTED_FORMAT},
        {"bit fields at 24 bits", [] { return with_spec([](BmpLayout &s) { s.compression = 3; }); },
         BmpProblem::UNSUPPORTED_FORMAT},
        {"scan line beyond 32 bits", [] { return patched32(build_bmp({}), 18, 0x7FFFFFFF); },
         BmpProblem::IMAGE_TOO_LARGE},
        {"image beyond 2 GiB",
         [] {
             Bytes file = with_spec([](BmpLayout &s) { s.bits = 32; });
             return patched32(patched32(file, 18, 0x10000), 22, 0x2000);
         },
         BmpProblem::IMAGE_TOO_LARGE},
        {"pixels start past the end",
         [] { return with_spec([](BmpLayout &s) { s.bits_offset = 4000, s.pixel_bytes = 0; }); },
         BmpProblem::PIXELS_BEYOND_END},
        {"bfOffBits 0xFFFFFFFF", [] { return patched32(build_bmp({}), 10, 0xFFFFFFFF); },
         BmpProblem::PIXELS_BEYOND_END},
        {"pixels inside the headers", [] { return patched32(build_bmp({}), 10, 10); },
         BmpProblem::PIXELS_BEYOND_END},
        {"pixel data one byte short", [] { return cut(build_bmp({}), 54 + 24 - 1); },
         BmpProblem::PIXELS_BEYOND_END},
        {"top-down, more rows than data", [] { return patched32(build_bmp({}), 22, uint32_t(-3)); },
         BmpProblem::PIXELS_BEYOND_END},
        {"bit field masks missing",
         [] { return with_spec([](BmpLayout &s) { s.bits = 16, s.compression = 3; }); },
         BmpProblem::MASKS_BEYOND_PIXELS},
    };
    for (const RefusedRow &row : rows) {
        BmpPage page;
        BmpProblem actual = check_exact(row.file(), &page);
        EXPECT_EQ(actual, row.expected)
            << row.name << ": actual \"" << bmp_problem_text(actual) << "\", expected \""
            << bmp_problem_text(row.expected) << "\"";
    }
}

TEST(BmpCheck, TrueColourPageKeepsItsHeaderWithBoundedSizesAndSign) {
    BmpLayout layout;
    layout.width = 5;
    layout.height = 3;
    layout.size_image = 0x7FFFFFF0; // a lie the platform must not see
    layout.clr_used = 7;
    layout.clr_important = 7;
    Bytes file = build_bmp(layout);
    BmpPage page;
    ASSERT_EQ(check_exact(file, &page), BmpProblem::NONE);
    const DibHeader &h = page.info.header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biSizeImage, 48u) << "stride 16 x 3 rows";
    EXPECT_EQ(h.biClrUsed, 0u) << "no colour table beyond 8 bits per pixel";
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(page.bits_offset, 54u);
    EXPECT_EQ(page.rows, 3u);

    layout.height = -6; // top-down: the sign stays, the rows count
    ASSERT_EQ(check_exact(build_bmp(layout), &page), BmpProblem::NONE);
    EXPECT_EQ(page.height, -6);
    EXPECT_EQ(page.info.header.biHeight, -6);
    EXPECT_EQ(page.rows, 6u);
    EXPECT_EQ(page.info.header.biSizeImage, 96u);
}

TEST(BmpCheck, PaletteComesFromTheFileBoundedByThePixelData) {
    struct Row {
        const char *name;
        uint16_t bits;
        uint32_t clr_used;
        size_t entries_in_file;
        uint32_t expected_used;
        size_t expected_copied;
    };
    const Row rows[] = {
        {"8 bits, 3 colours named", 8, 3, 3, 3, 3},
        {"8 bits, full table expected, 2 present", 8, 0, 2, 256, 2},
        {"4 bits, full table", 4, 0, 16, 16, 16},
        {"1 bit, 300 colours claimed", 1, 300, 2, 2, 2},
        {"1 bit, table cut to one entry", 1, 0, 1, 2, 1},
    };
    for (const Row &row : rows) {
        BmpLayout layout;
        layout.bits = row.bits;
        layout.clr_used = row.clr_used;
        for (size_t i = 0; i < row.entries_in_file; ++i)
            layout.table.push_back(0x00102030u + uint32_t(i));
        BmpPage page;
        ASSERT_EQ(check_exact(build_bmp(layout), &page), BmpProblem::NONE) << row.name;
        EXPECT_EQ(page.info.header.biClrUsed, row.expected_used)
            << row.name << ": actual " << page.info.header.biClrUsed << ", expected "
            << row.expected_used;
        for (size_t i = 0; i < BMP_MAX_COLOURS; ++i) {
            uint32_t expected = i < row.expected_copied ? 0x00102030u + uint32_t(i) : 0;
            ASSERT_EQ(page.info.colours[i], expected)
                << row.name << ": entry " << i << " actual " << page.info.colours[i]
                << ", expected " << expected;
        }
    }
}

TEST(BmpCheck, LongInformationHeaderIsCutTo40AndItsTableFollowsIt) {
    BmpLayout layout;
    layout.bits = 8;
    layout.info_size = 124;
    layout.clr_used = 2;
    layout.clr_important = 9;
    layout.table = {0x00FF0000, 0x000000FF};
    BmpPage page;
    ASSERT_EQ(check_exact(build_bmp(layout), &page), BmpProblem::NONE);
    EXPECT_EQ(page.info.header.biSize, 40u);
    EXPECT_EQ(page.info.colours[0], 0x00FF0000u);
    EXPECT_EQ(page.info.colours[1], 0x000000FFu);
    EXPECT_EQ(page.info.header.biClrImportant, 0u) << "more important colours than colours";
    EXPECT_EQ(page.bits_offset, 14u + 124 + 8);
}

TEST(BmpCheck, BitFieldMasksComeAfterOrInsideTheHeader) {
    BmpLayout after;
    after.bits = 16;
    after.compression = 3;
    after.table = {0xF800, 0x07E0, 0x001F};
    BmpPage page;
    ASSERT_EQ(check_exact(build_bmp(after), &page), BmpProblem::NONE);
    EXPECT_EQ(page.info.colours[0], 0xF800u);
    EXPECT_EQ(page.info.colours[2], 0x001Fu);
    EXPECT_EQ(page.info.header.biCompression, 3u);

    BmpLayout inside;
    inside.bits = 32;
    inside.compression = 3;
    inside.info_size = 108;
    Bytes file = build_bmp(inside);
    put32(file, 54, 0x00FF0000);
    put32(file, 58, 0x0000FF00);
    put32(file, 62, 0x000000FF);
    ASSERT_EQ(check_exact(file, &page), BmpProblem::NONE);
    EXPECT_EQ(page.info.colours[0], 0x00FF0000u);
    EXPECT_EQ(page.info.colours[1], 0x0000FF00u);
    EXPECT_EQ(page.info.header.biSize, 40u);
}

TEST(BmpCheck, SignatureOfShortFiles) {
    const unsigned char png[] = {0x89, 0x50, 0x4E, 0x47};
    const unsigned char bm[] = {'B', 'M'};
    const unsigned char one[] = {'B'};
    EXPECT_EQ(bmp_signature(png, sizeof(png)), 0x5089);
    EXPECT_EQ(bmp_signature(bm, sizeof(bm)), BMP_SIGNATURE);
    EXPECT_EQ(bmp_signature(one, 1), 0x42);
    EXPECT_EQ(bmp_signature(one, 0), 0);
}

TEST(PagePlacement, ScaleAndPageSizeChooseTheMode) {
    const PageMetrics m = {2400, 3400, 2480, 3508, 40, 50};
    struct Row {
        const char *name;
        uint32_t scale;
        int32_t width;
        uint32_t rows;
        PagePlacement expected;
    };
    const Row rows[] = {
        {"scale 0, huge", 0, 100000, 100000, PagePlacement::AS_IS},
        {"scale 0, physical size", 0, 2480, 3508, PagePlacement::AS_IS},
        {"width +9, height -9", 1, 2489, 3499, PagePlacement::PAGE_SIZE},
        {"width -9, height +9", 7, 2471, 3517, PagePlacement::PAGE_SIZE},
        {"width +10", 1, 2490, 3508, PagePlacement::FIT},
        {"height -10", 1, 2480, 3498, PagePlacement::FIT},
        {"printable size", 1, 2400, 3400, PagePlacement::FIT},
        {"widest bitmap", 1, INT32_MAX, UINT32_MAX, PagePlacement::FIT},
    };
    for (const Row &row : rows) {
        PagePlacement actual = choose_placement(row.scale, row.width, row.rows, m);
        EXPECT_EQ(static_cast<int>(actual), static_cast<int>(row.expected))
            << row.name << ": actual " << static_cast<int>(actual) << ", expected "
            << static_cast<int>(row.expected);
    }
}

TEST(DriveCPath, DeviceLinkIsReplacedByTheRealFolder) {
    struct Row {
        const char *name;
        const char *path;
        bool expected;
        const char *candidate;
        size_t root_length;
    };
    const Row rows[] = {
        {"file at the root", "/p/x/dosdevices/c:/out.ps", true, "/p/x/drive_c/out.ps", 12},
        {"the root itself", "/w/dosdevices/c:", true, "/w/drive_c", 10},
        {"another drive", "/w/dosdevices/d:/out.ps", false, "", 0},
        {"a longer name", "/w/dosdevices/c:x/out.ps", false, "", 0},
        {"already real", "/w/drive_c/out.ps", false, "", 0},
    };
    for (const Row &row : rows) {
        std::string candidate;
        size_t root_length = 0;
        bool actual = drive_c_candidate(row.path, &candidate, &root_length);
        EXPECT_EQ(actual, row.expected) << row.name;
        if (!actual || !row.expected)
            continue;
        EXPECT_EQ(candidate, row.candidate) << row.name;
        EXPECT_EQ(root_length, row.root_length) << row.name;
    }
}

} // namespace
