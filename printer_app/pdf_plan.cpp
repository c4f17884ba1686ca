#include "pdf_plan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

PageColour page_colour(bool colour_asked, bool bi_level_asked, bool printer_has_colour) {
    if (bi_level_asked)
        return PageColour::MONO;
    return colour_asked && printer_has_colour ? PageColour::COLOR : PageColour::GREY;
}

PixelKind page_pixel_kind(PageColour colour) {
    switch (colour) {
    case PageColour::COLOR:
        return PixelKind::RGB_8;
    case PageColour::GREY:
        return PixelKind::GRAY_8;
    default:
        return PixelKind::BLACK_1;
    }
}

std::string plan_pdf_pages(const PdfPageRequest &r, PdfPagePlan &plan) {
    if (r.document_pages == 0)
        return "the document has no pages";
    if (r.document_pages > MAX_DOCUMENT_PAGES)
        return "the document has " + std::to_string(r.document_pages) + " pages, more than " +
               std::to_string(MAX_DOCUMENT_PAGES);
    uint32_t first = std::max<uint32_t>(r.first_page, 1);
    uint32_t last = std::min(r.last_page, r.document_pages);
    if (first > last)
        return "no page of the " + std::to_string(r.document_pages) +
               " in the document is in the page range";
    uint64_t total = uint64_t(last - first + 1) * uint64_t(std::max(r.copies, 1));
    if (total > MAX_PRINTED_PAGES)
        return "the job would print " + std::to_string(total) + " pages, more than " +
               std::to_string(MAX_PRINTED_PAGES);
    plan = {first, last, uint32_t(std::max(r.copies, 1)), uint32_t(total)};
    return "";
}

uint32_t pdf_page_number(const PdfPagePlan &plan, uint32_t index) {
    return plan.first + index % (plan.last - plan.first + 1);
}

std::vector<std::string> render_arguments(PageColour colour, uint32_t width, uint32_t height,
                                          uint32_t x_dpi, uint32_t y_dpi,
                                          const std::string &pattern) {
    static const char *const devices[] = {"bmp16m", "bmpgray", "bmpmono"};
    return {std::string("-sDEVICE=") + devices[int(colour)],
            "-r" + std::to_string(x_dpi) + "x" + std::to_string(y_dpi),
            "-g" + std::to_string(width) + "x" + std::to_string(height),
            "-dFIXEDMEDIA",
            "-dPDFFitPage",
            "-sOutputFile=" + pattern};
}

std::string ps_string(std::string_view text) {
    std::string out = "(";
    for (unsigned char c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7f) { // octal: no byte is read as a line end
            char octal[5];
            snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        } else {
            out += char(c);
        }
    }
    return out + ")";
}

std::string page_count_command(const std::string &pdf) {
    return ps_string(pdf) + " (r) file runpdfbegin (" + PAGE_COUNT_TAG +
           " ) print pdfpagecount = flush";
}

std::optional<uint32_t> parse_page_count(std::string_view line) {
    std::string_view tag = PAGE_COUNT_TAG;
    if (line.substr(0, tag.size() + 1) != std::string(tag) + " ")
        return std::nullopt;
    line.remove_prefix(tag.size() + 1);
    uint32_t count = 0;
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), count);
    if (error != std::errc() || end != line.data() + line.size() || line.empty())
        return std::nullopt;
    return count;
}
