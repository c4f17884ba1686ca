// Which pages of a PDF document a job prints, in what colour, and how
// Ghostscript is asked for them: plain functions over plain values, so that
// the choices are tested without a printer system or Ghostscript.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "page_image.h"

// A document with more pages is refused before anything is printed.
constexpr uint32_t MAX_DOCUMENT_PAGES = 10000;

// A run of pages, 1-based, both ends included.
struct PageRange {
    uint32_t first = 1, last = UINT32_MAX;
    bool operator==(const PageRange &) const = default;
};

// "2-5", "1,3,7-", "-3" as ranges in the order written; empty on success,
// else what is wrong with which part.
std::string parse_page_ranges(std::string_view text, std::vector<PageRange> &ranges);

// The pages of each document, the ranges asked for and the copies.
struct PagePlanRequest {
    std::vector<uint32_t> document_pages;
    std::vector<PageRange> ranges; // none: every page
    // The application applies its range to each document of a job; the
    // command numbers the job's pages through all its documents.
    bool ranges_per_document = true;
    int copies = 1;
    bool collate = true;        // false: each page `copies` times before the next
    uint64_t max_pages = 10000; // printed in the job, copies included
};

// One page printed: the document (0 the first) and its page number.
struct PlannedPage {
    uint32_t document = 0, number = 0;
    bool operator==(const PlannedPage &) const = default;
};

// Empty on success, with the job's pages in print order, else why nothing
// can be printed.
std::string plan_job_pages(const PagePlanRequest &request, std::vector<PlannedPage> &pages);

// The resolution that draws a page of page_width x page_height points over
// a printable area of width x height pixels, snapped to a common one (the
// printable area is a little smaller than the paper).
uint32_t estimate_dpi(uint32_t width, uint32_t height, double page_width, double page_height);

// Where each document of a file begins: CUPS hands a job of several
// documents on as one stream, each document's PDF after the one before it.
// A document begins at the start and at every "%PDF-" that follows a
// "%%EOF" with nothing but white space between.
std::vector<size_t> pdf_document_starts(std::string_view file);

enum class PageColour { COLOR, GREY, MONO };

// Colour only where asked for and printable; one bit where bi-level is asked.
PageColour page_colour(bool colour_asked, bool bi_level_asked, bool printer_has_colour);
PixelKind page_pixel_kind(PageColour colour);

// Ghostscript's arguments for pages of width x height pixels at the
// resolution, written to `pattern` (with %d, the page's number in the run).
std::vector<std::string> render_arguments(PageColour colour, uint32_t width, uint32_t height,
                                          uint32_t x_dpi, uint32_t y_dpi,
                                          const std::string &pattern);

// IPP's print-scaling, as the job or the printer's default says it.
enum class PrintScaling { AUTO, AUTO_FIT, FILL, FIT, NONE };
enum class PageFit {
    FIT,  // as large as fits: the rest of the page image stays white
    FILL, // as small as covers the page image: the overhang is cut off
    NONE, // its own size
};

// How each page of a PDF document lies on the page image (the printable
// area): turned, then scaled as `fit` says, and centred.
struct PageLayout {
    // Quarter turns counter-clockwise (IPP's landscape is one); -1: one
    // where page and paper differ, one portrait and one landscape.
    int quarter_turns = -1;
    PageFit fit = PageFit::FIT;
    bool only_larger = false; // a page that fits at its own size keeps it
    bool operator==(const PageLayout &) const = default;
};

// The layout for orientation-requested (3 portrait .. 6 reverse portrait,
// 7 none), `named` when the job names it, and print-scaling. A page keeps
// its own orientation, turned only to suit the paper, unless the job names
// one or the printer's default is not portrait. "auto" and "auto-fit" fit
// only a page larger than the printable area: a document is cropped only
// when the job asks for "fill" ("auto" fills borderless photos, and the
// rig's driver, like many, calls every paper borderless).
PageLayout page_layout(int orientation, bool named, PrintScaling scaling);

// Opens the document and defines the page procedure for the layout, in
// the Ghostscript that draws the pages.
std::string open_document_command(const std::string &pdf, const PageLayout &layout);
// Draws page `number` (1-based) of the document opened.
std::string draw_page_command(uint32_t number);

// `text` as a PostScript string literal, parentheses included.
std::string ps_string(std::string_view text);

// What makes Ghostscript say a document's page count as PAGE_COUNT_TAG N.
constexpr const char *PAGE_COUNT_TAG = "#pages";
std::string page_count_command(const std::string &pdf);
// The count from that line of Ghostscript's; none when the line is
// something else (its error).
std::optional<uint32_t> parse_page_count(std::string_view line);

// Said to the Ghostscript that counted the pages: the first page's media
// box, which parse_page_box reads as its width and height in points.
std::string page_box_command();
std::optional<std::pair<double, double>> parse_page_box(std::string_view line);
