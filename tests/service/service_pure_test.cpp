// Page file checks and the drawing header built from a file, the body-length
// limit, placement and the drive C: folder: pure logic, also run natively
// under ASan/UBSan, where any read past a buffer fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "net/packet.h"
#include "service/bmp_builder.h"
#include "imaging/bmp_file.h"
#include "winpath/drive_c_path.h"
#include "service/messages.h"
#include "imaging/page_buffer.h"
#include "imaging/page_placement.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Bytes = std::vector<unsigned char>;

// The file in a buffer of exactly its size, so that the sanitizer sees any
// read beyond it.
BmpProblem check_exact(const Bytes &file, BmpPage *page) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
    memcpy(copy.get(), file.data(), file.size());
    return check_bmp_page(copy.get(), file.size(), page);
}

Bytes patched(uint32_t at, uint32_t value, Bytes file = build_bmp({})) {
    put32(file, at, value);
    return file;
}

Bytes cut(size_t size) {
    Bytes file = build_bmp({});
    file.resize(size);
    return file;
}

} // namespace

// A file taken has a drawing header of bounded sizes with only the file's own
// colours (or masks): biHeight, biSizeImage, biClrUsed, rows, pixel offset.
TEST(BmpCheck, RefusesWhatItCannotBoundAndBoundsWhatItTakes) {
    using P = BmpProblem;
    const struct {
        const char *name;
        Bytes file;
        BmpProblem expected;
        std::vector<int64_t> taken = {};
        std::vector<uint32_t> colours = {};
    } rows[] = {
        // clang-format off
        {"file header only", cut(14), P::HEADERS_BEYOND_END},
        {"information header cut", cut(44), P::HEADERS_BEYOND_END},
        {"biSize beyond the file", patched(14, 0xFFFFFFF0), P::HEADERS_BEYOND_END},
        {"core header", build_bmp({.info_size = 12}), P::UNSUPPORTED_HEADER},
        {"zero width", build_bmp({.width = 0}), P::BAD_DIMENSIONS},
        {"zero height", build_bmp({.height = 0}), P::BAD_DIMENSIONS},
        {"height INT32_MIN", patched(22, 0x80000000u), P::BAD_DIMENSIONS},
        {"bit count 2", build_bmp({.bits = 2}), P::UNSUPPORTED_FORMAT},
        {"RLE8", build_bmp({.bits = 8, .compression = 1}), P::UNSUPPORTED_FORMAT},
        {"24-bit bit fields", build_bmp({.compression = 3}), P::UNSUPPORTED_FORMAT},
        {"scan line beyond 2 GiB", patched(18, 0x7FFFFFFF), P::IMAGE_TOO_LARGE},
        {"image beyond 2 GiB", patched(22, 0x2000, patched(18, 0x10000, build_bmp({.bits = 32}))), P::IMAGE_TOO_LARGE},
        {"pixels past the end", build_bmp({.bits_offset = 4000, .pixel_bytes = 0}), P::PIXELS_BEYOND_END},
        {"bfOffBits 0xFFFFFFFF", patched(10, 0xFFFFFFFF), P::PIXELS_BEYOND_END},
        {"pixels inside the headers", patched(10, 53), P::PIXELS_BEYOND_END},
        {"pixel data one byte short", cut(54 + 24 - 1), P::PIXELS_BEYOND_END},
        {"top-down, more rows than data", patched(22, uint32_t(-3)), P::PIXELS_BEYOND_END},
        {"masks missing", build_bmp({.bits = 16, .compression = 3}), P::MASKS_BEYOND_PIXELS},
        {"24 bits, lying sizes", build_bmp({.width = 5, .height = -3, .size_image = 0x7FFFFFF0, .clr_used = 7, .clr_important = 7}), P::NONE, {-3, 48, 0, 3, 54}},
        {"8 bits, 2 of a full table", build_bmp({.bits = 8, .table = {1, 2}}), P::NONE, {2, 8, 256, 2, 62}, {1, 2}},
        {"1 bit, 300 colours claimed", build_bmp({.bits = 1, .clr_used = 300, .table = {1, 2}}), P::NONE, {2, 8, 2, 2, 62}, {1, 2}},
        {"8 bits, 124-byte header", build_bmp({.bits = 8, .info_size = 124, .clr_used = 2, .clr_important = 9, .table = {1, 2}}), P::NONE, {2, 8, 2, 2, 146}, {1, 2}},
        {"16-bit bit fields", build_bmp({.bits = 16, .compression = 3, .table = {0xF800, 0x07E0, 0x001F}}), P::NONE, {2, 16, 0, 2, 66}, {0xF800, 0x07E0, 0x001F}},
        // clang-format on
    };
    for (const auto &row : rows) {
        BmpPage page;
        BmpProblem actual = check_exact(row.file, &page);
        EXPECT_EQ(actual, row.expected) << row.name << ": \"" << bmp_problem_text(actual) << "\"";
        if (actual != P::NONE)
            continue;
        const DibHeader &h = page.info.header;
        EXPECT_EQ(row.taken, std::vector<int64_t>({h.biHeight, h.biSizeImage, h.biClrUsed,
                                                   page.rows, page.bits_offset}))
            << row.name;
        std::vector<uint32_t> colours = row.colours;
        colours.resize(BMP_MAX_COLOURS);
        EXPECT_TRUE(h.biSize == 40 && h.biClrImportant <= h.biClrUsed &&
                    std::equal(colours.begin(), colours.end(), page.info.colours))
            << row.name;
    }
    // Read only as far as the file goes.
    const unsigned char one[] = {'B'};
    EXPECT_EQ(std::vector<int>({0x42, 0}),
              std::vector<int>({bmp_signature(one, 1), bmp_signature(one, 0)}));
}

TEST(PacketLength, BodiesUpToTheLimitAreTaken) {
    EXPECT_EQ(0u, check_body_length(MAX_BODY_LENGTH));
    EXPECT_EQ(uint32_t(STATUS_OUT_OF_MEMORY), check_body_length(MAX_BODY_LENGTH + 1));
}

TEST(PageSizeAnswer, SizesBeyond16BitsAreRefusedNotWrapped) {
    const Bytes sizes[] = {{0, 0, 0, 0, 0xFF, 0xFF, 0x13, 0x60}, {1, 0, 0, 0, 0, 0, 0, 0}};
    for (int width : {65535, 65536}) {
        Bytes answer(PAGE_SIZE_ANSWER_SIZE);
        build_page_size_answer(answer.data(), 0, width, 4960);
        EXPECT_EQ(sizes[width > 65535], answer) << width;
    }
}

TEST(PagePlacement, ScaleAndPageSizeChooseTheMode) {
    const PageMetrics m = {2400, 3400, 2480, 3508, 40, 50};
    using P = PagePlacement;
    const struct {
        uint32_t scale;
        int32_t width;
        uint32_t rows;
        PagePlacement expected;
    } rows[] = {{0, 2480, 3508, P::AS_IS},     {1, 2489, 3499, P::PAGE_SIZE},
                {7, 2471, 3517, P::PAGE_SIZE}, {1, 2490, 3508, P::FIT},
                {1, 2480, 3498, P::FIT},       {1, 2470, 3508, P::FIT},
                {1, 2480, 3518, P::FIT},       {1, INT32_MAX, UINT32_MAX, P::FIT}};
    for (const auto &row : rows)
        EXPECT_EQ(int(choose_placement(row.scale, row.width, row.rows, m)), int(row.expected))
            << "scale " << row.scale << ", " << row.width << " x " << row.rows;
}

// Under the sanitizer, filling each buffer to the size asked for fails if it
// is smaller, or if it is the one released before; a kept buffer must be the
// very one of the page before.
TEST(PageBuffer, KeptWhileLargeEnoughGrownOtherwiseReleasedAtTheEnd) {
    unsigned char *before = nullptr;
    for (auto [size, kept] :
         {std::pair(1000, false), {1000, true}, {10, true}, {5000, false}, {4999, true}}) {
        unsigned char *buffer = page_buffer(size);
        ASSERT_NE(buffer, nullptr) << size;
        EXPECT_TRUE(!kept || buffer == before) << size << " bytes: a new buffer";
        memset(buffer, 1, size);
        before = buffer;
    }
    release_page_buffer();
    memset(page_buffer(3000), 3, 3000);
    release_page_buffer();
}

TEST(DriveCPath, DeviceLinkIsReplacedByTheRealFolder) {
    std::string candidate;
    size_t root_length = 0;
    ASSERT_TRUE(drive_c_candidate("/p/x/dosdevices/c:/out.ps", &candidate, &root_length));
    EXPECT_EQ("/p/x/drive_c/out.ps", candidate);
    EXPECT_EQ(12u, root_length);
    ASSERT_TRUE(drive_c_candidate("/w/dosdevices/c:", &candidate, &root_length));
    EXPECT_EQ("/w/drive_c", candidate);
    for (const char *other : {"/w/dosdevices/d:/out.ps", "/w/dosdevices/c:x/out.ps",
                              "/dosdevices/c:/out.ps", "/w/drive_c/out.ps"})
        EXPECT_FALSE(drive_c_candidate(other, &candidate, &root_length)) << other;
}
