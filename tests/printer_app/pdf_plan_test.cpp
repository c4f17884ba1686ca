// The pages, colours and Ghostscript commands of a PDF job.
#include <gtest/gtest.h>

#include "pdf_plan.h"

TEST(PdfPlan, RangesAndCopiesPrintTheRightPagesOrRefuse) {
    const struct {
        PdfPageRequest request;
        std::string error; // empty: planned as `order` says
        std::vector<uint32_t> order;
    } cases[] = {
        {{3, 1, 3, 1}, "", {1, 2, 3}},
        {{3, 2, 3, 2}, "", {2, 3, 2, 3}}, // copies collated
        {{3, 2, 0x7fffffff, 1}, "", {2, 3}},
        {{3, 0, 1, 0}, "", {1}}, // no copies asked: one
        {{3, 4, 9, 1}, "no page of the 3 in the document is in the page range", {}},
        {{0, 1, 1, 1}, "the document has no pages", {}},
        {{10001, 1, 1, 1}, "the document has 10001 pages, more than 10000", {}},
        {{10000, 1, 10000, 11}, "the job would print 110000 pages, more than 100000", {}},
    };
    for (const auto &c : cases) {
        PdfPagePlan plan;
        ASSERT_EQ(c.error, plan_pdf_pages(c.request, plan)) << c.request.document_pages;
        if (!c.error.empty())
            continue;
        ASSERT_EQ(c.order.size(), plan.total);
        for (uint32_t i = 0; i < plan.total; ++i)
            EXPECT_EQ(c.order[i], pdf_page_number(plan, i)) << i;
    }
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
