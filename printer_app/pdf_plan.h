// Which pages of a PDF document a job prints, in what colour, and how
// Ghostscript is asked for them: plain functions over plain values, so that
// the choices are tested without a printer system or Ghostscript.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "page_image.h"

// A document with more pages is refused before anything is printed.
constexpr uint32_t MAX_DOCUMENT_PAGES = 10000;
// Nor are more pages printed in one job, copies included.
constexpr uint64_t MAX_PRINTED_PAGES = 100000;

// The page range and copies a job asks for, and the document's pages.
struct PdfPageRequest {
    uint32_t document_pages = 0;
    uint32_t first_page = 1, last_page = 0; // as the job's options say, 1-based
    int copies = 1;
};

// The pages printed: first..last of the document, `copies` times over.
struct PdfPagePlan {
    uint32_t first = 1, last = 0, copies = 1;
    uint32_t total = 0;
};

// Empty on success, else why nothing can be printed.
std::string plan_pdf_pages(const PdfPageRequest &request, PdfPagePlan &plan);
// The document's page printed as the plan's index-th page (0 the first).
uint32_t pdf_page_number(const PdfPagePlan &plan, uint32_t index);

enum class PageColour { COLOR, GREY, MONO };

// Colour only where asked for and printable; one bit where bi-level is asked.
PageColour page_colour(bool colour_asked, bool bi_level_asked, bool printer_has_colour);
PixelKind page_pixel_kind(PageColour colour);

// Ghostscript's arguments for pages of width x height pixels at the
// resolution, fitted onto them, written to `pattern` (with %d, the page's
// number in the run).
std::vector<std::string> render_arguments(PageColour colour, uint32_t width, uint32_t height,
                                          uint32_t x_dpi, uint32_t y_dpi,
                                          const std::string &pattern);

// `text` as a PostScript string literal, parentheses included.
std::string ps_string(std::string_view text);

// What makes Ghostscript say a document's page count as PAGE_COUNT_TAG N.
constexpr const char *PAGE_COUNT_TAG = "#pages";
std::string page_count_command(const std::string &pdf);
// The count from that line of Ghostscript's; none when the line is
// something else (its error).
std::optional<uint32_t> parse_page_count(std::string_view line);
