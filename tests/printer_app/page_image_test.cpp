// Raster lines into BMP pages: layout, limits, conversion, and the file; the
// pages, colours and Ghostscript commands of a PDF job.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <cups/raster.h>
#include <unistd.h>

#include "page_image.h"
#include "pdf_plan.h"
#include "picture_page.h"
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
        EXPECT_FALSE(page_file_create(page, folder + "/none", number, format, 1 << 20, error));
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

TEST(PdfPlan, RangesAndCopiesPrintTheRightPagesOrRefuse) {
    using R = std::vector<PageRange>;
    const struct {
        std::vector<uint32_t> documents;
        R ranges;
        bool each = true; // the application's: its range applies to each document
        int copies = 1;
        bool collate = true;
        std::string error; // empty: planned as `order` says, document * 100 + page
        std::vector<uint32_t> order;
    } cases[] = {
        {{3}, {}, true, 1, true, "", {1, 2, 3}},
        {{3}, {{2, 3}}, true, 2, true, "", {2, 3, 2, 3}}, // copies collated
        {{3}, {{1, 2}}, true, 3, false, "", {1, 1, 1, 2, 2, 2}},
        {{3}, {{0, 1}}, true, 0, true, "", {1}}, // no copies asked: one
        {{2, 3}, {{2, 9}}, true, 1, true, "", {2, 102, 103}},
        {{2, 3}, {{2, 4}, {1, 1}}, false, 1, true, "", {2, 101, 102, 1}}, // through the job
        {{2, 3}, {{5, UINT32_MAX}}, false, 2, false, "", {103, 103}},
        {{3}, {{4, 9}}, true, 1, true, "no page of the 3 in the document is in the page range", {}},
        {{2, 3},
         {{6, 6}},
         false,
         1,
         true,
         "no page of the 5 in the document is in the page range",
         {}},
        {{0}, {}, true, 1, true, "the document has no pages", {}},
        {{10001}, {}, true, 1, true, "the document has 10001 pages, more than 10000", {}},
        {{100}, {}, true, 999, true, "the job would print 99900 pages, more than 10000", {}},
        {{5000, 5001}, {}, true, 1, true, "the job would print 10001 pages, more than 10000", {}},
        {{1},
         R(10001, PageRange{}),
         false,
         1,
         true,
         "the job would print 10001 pages, more than 10000",
         {}},
    };
    for (const auto &c : cases) {
        PagePlanRequest request{c.documents, c.ranges, c.each, c.copies, c.collate};
        std::vector<PlannedPage> pages;
        ASSERT_EQ(c.error, plan_job_pages(request, pages)) << c.documents[0];
        std::vector<uint32_t> order;
        for (const PlannedPage &p : pages)
            order.push_back(p.document * 100 + p.number);
        EXPECT_EQ(c.order, order) << c.documents[0];
    }
}

TEST(PdfPlan, PageRangesAsWrittenOrRefusedByPart) {
    const struct {
        const char *text;
        std::vector<PageRange> ranges;
        std::string error;
    } cases[] = {
        {"2-5", {{2, 5}}, ""},
        {"1, 3,7-", {{1, 1}, {3, 3}, {7, UINT32_MAX}}, ""},
        {"-3,3", {{1, 3}, {3, 3}}, ""},
        {"1,,3", {}, "page range '': expected N, N-M, N- or -M"},
        {"5-2", {}, "page range '5-2' is empty"},
        {"0", {}, "page range '0' is empty"},
        {"x-2", {}, "page range 'x-2': expected N, N-M, N- or -M"},
        {"1-4294967296", {}, "page range '1-4294967296': expected N, N-M, N- or -M"},
    };
    for (const auto &c : cases) {
        std::vector<PageRange> ranges;
        EXPECT_EQ(c.error, parse_page_ranges(c.text, ranges)) << c.text;
        EXPECT_EQ(c.ranges, c.error.empty() ? ranges : c.ranges) << c.text;
    }
}

TEST(PdfPlan, ResolutionEstimatedFromThePrintableArea) {
    EXPECT_EQ(300u, estimate_dpi(2400, 3400, 595, 842)); // A4's printable area at 300 dpi
    EXPECT_EQ(600u, estimate_dpi(6800, 4800, 842, 595));
    EXPECT_EQ(137u, estimate_dpi(1600, 100, 842, 595)); // no common one near
    EXPECT_EQ(300u, estimate_dpi(2400, 3400, 0, 0));    // nothing measured
    EXPECT_EQ(std::make_pair(595.0, 842.0), parse_page_box("[0 0 595 842]").value());
    EXPECT_EQ(std::make_pair(10.5, 20.0), parse_page_box("[10.5 20 0 0]").value());
    EXPECT_FALSE(parse_page_box("Error: /undefined"));
}

TEST(PicturePage, FittedCentredOrPlacedAtTheCorner) {
    const struct {
        uint32_t width, height;
        bool fit;
        PicturePlacement at;
    } cases[] = {
        {300, 200, true, {0, 50, 600, 400}}, // on a page of 600 x 500
        {100, 500, true, {250, 0, 100, 500}}, {1200, 1000, true, {0, 0, 600, 500}},
        {1, 10000, true, {299, 0, 1, 500}}, // never narrower than a pixel
        {700, 20, false, {0, 0, 700, 20}},  // as it is, cut off by the page
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.at, place_picture(c.width, c.height, 600, 500, c.fit)) << c.width;
}

TEST(PdfPlan, DocumentsOfOneStreamBeginAfterEachEnd) {
    const struct {
        std::string file;
        std::vector<size_t> starts;
    } cases[] = {
        {"%PDF-1 %%EOF", {0}},
        {"%PDF-1 %%EOF\r\n%PDF-2 %%EOF\n%PDF-3", {0, 14, 27}},
        {"%PDF-1 (%%EOF x %PDF-) %%EOF", {0}}, // only white space between
        {"%PDF-1 %%EOF \t\f%PDF", {0}},
        {"%%EOF%PDF-", {0, 5}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.starts, pdf_document_starts(c.file)) << c.file;
}

TEST(PdfPlan, ColourOnlyWhereAskedAndPrintable) {
    EXPECT_EQ(PageColour::COLOR, page_colour(true, false, true));
    EXPECT_EQ(PageColour::GREY, page_colour(true, false, false));
    EXPECT_EQ(PageColour::GREY, page_colour(false, false, true));
    EXPECT_EQ(PageColour::MONO, page_colour(false, true, true));
    EXPECT_EQ("-sDEVICE=bmpmono", render_arguments(PageColour::MONO, 1, 1, 1, 1, "p")[0]);
}

TEST(PdfPlan, GhostscriptTextQuotedAndReadBack) {
    EXPECT_EQ("(/tmp/a\\(b\\)\\\\c\\012d\\377)", ps_string("/tmp/a(b)\\c\nd\xff"));
    EXPECT_EQ(42u, parse_page_count("#pages 42").value_or(0));
    for (const char *line : {"", "#pages ", "#pages 4x", "#pages -1", "42",
                             "Error: /syntaxerror in pdfpagecount", "#pages 99999999999"})
        EXPECT_FALSE(parse_page_count(line)) << line;
}

TEST(PdfPlan, LayoutFromOrientationAndScaling) {
    using S = PrintScaling;
    using F = PageFit;
    const struct {
        int orientation;
        bool named;
        PrintScaling scaling;
        PageLayout layout;
    } cases[] = {
        {3, false, S::AUTO, {-1, F::FIT, true}}, // the printer's portrait: turned to suit
        {3, true, S::AUTO, {0, F::FIT, true}},
        {4, true, S::FIT, {1, F::FIT, false}},  // landscape: counter-clockwise
        {4, false, S::FIT, {1, F::FIT, false}}, // the printer's default, not portrait
        {5, true, S::FILL, {3, F::FILL, false}},
        {6, true, S::NONE, {2, F::NONE, false}},
        {7, true, S::AUTO_FIT, {-1, F::FIT, true}},
        {0, true, S::FIT, {-1, F::FIT, false}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.layout, page_layout(c.orientation, c.named, c.scaling))
            << c.orientation << " " << c.named << " " << int(c.scaling);
}

TEST(PdfPlan, PageProcedureTakesTheLayout) {
    std::string open = open_document_command("/a(b", {3, PageFit::FILL, true});
    EXPECT_EQ(0u, open.find("(/a\\(b) (r) file runpdfbegin\n/tavripage {"));
    for (const char *part : {"/t 3 dup", "/s sx sy gt { sx } { sy } ifelse def", "true w W le"})
        EXPECT_NE(std::string::npos, open.find(part)) << part;
    open = open_document_command("a", {-1, PageFit::NONE, false});
    for (const char *part : {"/t -1 dup", "/s 1 def", "false w W le"})
        EXPECT_NE(std::string::npos, open.find(part)) << part;
    for (const char *placeholder : {"TURNS", "SCALE", "ONLY_LARGER"})
        EXPECT_EQ(std::string::npos, open.find(placeholder)) << placeholder;
    EXPECT_EQ("7 pdfgetpage tavripage", draw_page_command(7));
}
