// A job's bounds as options set them and as they decide; raster documents'
// pages counted in each form the printer system's writer makes, and
// refused where a page or the count cannot print.
#include <gtest/gtest.h>

#include <cups/raster.h>

#include "job_limits.h"
#include "raster_pages.h"

namespace {

using Bytes = std::vector<unsigned char>;

// `pages` pages of 120 x 180 pixels (4x6 in at 30 dpi) of `type`, their
// lines unlike each other, saying `total` pages.
Bytes document(cups_mode_t mode, unsigned pages, const char *type = "sgray_8", unsigned total = 0) {
    Bytes out;
    cups_raster_t *raster = cupsRasterOpenIO(
        [](void *out, unsigned char *data, size_t size) {
            static_cast<Bytes *>(out)->insert(static_cast<Bytes *>(out)->end(), data, data + size);
            return ssize_t(size);
        },
        &out, mode);
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG("na_index-4x6_4x6in"), type, 30, 30, "one-sided",
                            nullptr);
    h.cupsInteger[0] = total;
    Bytes line(h.cupsBytesPerLine);
    for (unsigned page = 0; page < pages && cupsRasterWriteHeader2(raster, &h); ++page)
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            for (size_t x = 0; x < line.size(); ++x)
                line[x] = uint8_t(x * y / 7);
            cupsRasterWritePixels(raster, line.data(), unsigned(line.size()));
        }
    cupsRasterClose(raster);
    return out;
}

} // namespace

TEST(JobLimits, SetInTheirUnitsBadValuesNamedAndWhatEachEnds) {
    auto read = [](const std::string &text, JobLimits &limits) {
        cups_option_t *options = nullptr;
        int count = cupsParseOptions(text.c_str(), 0, &options);
        std::string error = read_job_limits(count, options, limits);
        cupsFreeOptions(count, options);
        return error;
    };
    JobLimits limits;
    ASSERT_EQ("", read("max-output=2 max-page=4095 max-pages=7 max-seconds=31536000 "
                       "stall-seconds=5",
                       limits));
    EXPECT_EQ(2u << 20, limits.max_output_bytes);
    EXPECT_EQ(uint64_t(4095) << 20, limits.max_page_bytes);
    EXPECT_EQ(7u, limits.max_pages);
    EXPECT_EQ(31536000u, limits.max_seconds);
    EXPECT_EQ(5u, limits.stall_seconds);
    EXPECT_EQ("-o max-page takes a whole number from 1 to 4095, not \"4096\"",
              read("max-page=4096", limits));
    for (std::string value : {"max-seconds=0", "max-pages=+5", "stall-seconds=-1", "max-output=3x",
                              "max-seconds=31536001", "max-pages=99999999999999999999"})
        EXPECT_NE(std::string::npos,
                  read(value, limits).find("not \"" + value.substr(value.find('=') + 1)))
            << value;
    EXPECT_EQ(uint64_t(4095) << 20, limits.max_page_bytes); // kept when refused
    limits.max_document_bytes = 100;
    EXPECT_EQ("", limit_passed(limits, 31535999, 2 << 20) + spool_problem(limits, 100, 4));
    EXPECT_EQ("the job ran for longer than 31536000 s", limit_passed(limits, 31536000, 0));
    EXPECT_EQ("the driver's output grew past 2 MiB", limit_passed(limits, 0, (2 << 20) + 1));
    EXPECT_EQ("the document is larger than 0 MiB", spool_problem(limits, 101, 0));
    EXPECT_EQ("the sender sent nothing for 5 s: the document is incomplete",
              spool_problem(limits, 0, 5));
}

TEST(RasterPages, CountedInEachFormOrRefused) {
    const Bytes pwg = document(CUPS_RASTER_WRITE_PWG, 3);
    auto patched = [&](size_t field, uint8_t value) { // the first header's, big-endian
        Bytes b = pwg;
        b[4 + field + 3] = value;
        return b;
    };
    const struct {
        const char *what;
        Bytes data;
        uint64_t pages;
        std::string refusal;
        uint64_t max_pages = 40, max_page_bytes = 1 << 20;
    } rows[] = {
        {"PWG", pwg, 3, ""},
        {"little-endian, compressed", document(CUPS_RASTER_WRITE_COMPRESSED, 2), 2, ""},
        {"uncompressed", document(CUPS_RASTER_WRITE, 2, "black_1"), 2, ""},
        {"Apple", document(CUPS_RASTER_WRITE_APPLE, 2, "srgb_8"), 2, ""},
        {"a total said", document(CUPS_RASTER_WRITE_PWG, 1, "sgray_8", 50), 50,
         "the job would print 50 pages, more than 40"},
        {"more than the bound", pwg, 3, "the document has more than 2 pages", 2},
        {"a page too large", pwg, 1, "page 1: the page image would be larger than the page limit",
         40, 20000},
        {"cut short", Bytes(pwg.begin(), pwg.end() - 9), 3,
         "page 3: the document ends within the page"},
        {"no pages", Bytes(pwg.begin(), pwg.begin() + 4), 0, "the document has no pages"},
        {"not raster", Bytes{'%', 'P', 'D', 'F'}, 0,
         "the document is neither PWG nor Apple raster"},
        {"CMYK", document(CUPS_RASTER_WRITE_PWG, 1, "cmyk_8"), 1,
         "page 1: a raster of colour space 6 at 32 bits per pixel cannot be printed"},
        {"planes apart", patched(396, CUPS_ORDER_PLANAR), 1,
         "page 1: only pixels with their colours together are printed"},
        {"lines longer than the width", patched(392, 121), 1,
         "page 1: the page's lines do not match its width"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        RasterCount count = count_raster_pages(row.data, row.max_pages, row.max_page_bytes);
        EXPECT_EQ(row.pages, count.pages);
        EXPECT_EQ(row.refusal, count.refusal);
    }
}
