#include "pdf_plan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "job_limits.h"

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
    if (std::string refusal = page_total_problem(total, r.max_pages); !refusal.empty())
        return refusal;
    plan = {first, last, uint32_t(std::max(r.copies, 1)), uint32_t(total), r.collate};
    return "";
}

uint32_t pdf_page_number(const PdfPagePlan &plan, uint32_t index) {
    if (!plan.collate)
        return plan.first + index / plan.copies;
    return plan.first + index % (plan.last - plan.first + 1);
}

std::vector<size_t> pdf_document_starts(std::string_view file) {
    constexpr std::string_view END = "%%EOF", START = "%PDF-";
    std::vector<size_t> starts{0};
    for (size_t end = file.find(END); end != std::string_view::npos;
         end = file.find(END, end + END.size())) {
        size_t next = file.find_first_not_of(" \t\r\n\f", end + END.size());
        if (next != std::string_view::npos && file.substr(next, START.size()) == START)
            starts.push_back(next);
    }
    return starts;
}

std::vector<std::string> render_arguments(PageColour colour, uint32_t width, uint32_t height,
                                          uint32_t x_dpi, uint32_t y_dpi,
                                          const std::string &pattern) {
    static const char *const devices[] = {"bmp16m", "bmpgray", "bmpmono"};
    return {std::string("-sDEVICE=") + devices[int(colour)],
            "-r" + std::to_string(x_dpi) + "x" + std::to_string(y_dpi),
            "-g" + std::to_string(width) + "x" + std::to_string(height), "-dFIXEDMEDIA",
            "-sOutputFile=" + pattern};
}

PageLayout page_layout(int orientation, bool named, PrintScaling scaling) {
    PageLayout layout;
    // IPP's portrait, landscape (a quarter turn counter-clockwise), reverse
    // landscape (clockwise) and reverse portrait; none (7) is the default.
    static const int turns[] = {0, 1, 3, 2};
    constexpr int PORTRAIT = 3, REVERSE_PORTRAIT = 6;
    if (orientation >= PORTRAIT && orientation <= REVERSE_PORTRAIT &&
        (named || orientation != PORTRAIT))
        layout.quarter_turns = turns[orientation - PORTRAIT];
    switch (scaling) {
    case PrintScaling::AUTO:
    case PrintScaling::AUTO_FIT:
        layout.only_larger = true;
        break;
    case PrintScaling::FILL:
        layout.fit = PageFit::FILL;
        break;
    case PrintScaling::FIT:
        break;
    case PrintScaling::NONE:
        layout.fit = PageFit::NONE;
        break;
    }
    return layout;
}

namespace {

// `<page> tavripage -`: what pdfshowpage does (newpdf_pdfshowpage in
// Ghostscript's pdf_main.ps), with our own placement of the page in place
// of its -dPDFFitPage: the same box (the media box, clipped to the crop
// box), its /Rotate and /UserUnit honoured, then turned TURNS quarter
// turns (-1: one where page and paper differ in shape), scaled by SCALE
// (sx, sy: the scales that make its width, its height fill the page image)
// unless ONLY_LARGER and it fits as it is, and centred. The device's
// PageSize is the page image in points.
constexpr const char *PAGE_PROCEDURE = R"(/tavripage {
  gsave dup newpdf_device_setup
  20 dict begin /page exch def
  page newpdf_get_any_box /box exch def /boxname exch def
  currentpagedevice /PageSize get aload pop /H exch def /W exch def
  box length 4 eq { box aload pop } { 0 0 W H } ifelse
  /y1 exch def /x1 exch def /y0 exch def /x0 exch def
  x0 x1 gt { x0 x1 /x0 exch def /x1 exch def } if
  y0 y1 gt { y0 y1 /y0 exch def /y1 exch def } if
  x1 x0 sub 0 le y1 y0 sub 0 le or { /x0 0 def /y0 0 def /x1 W def /y1 H def } if
  /u page /UserUnit knownoget { dup 0 le { pop 1 } if } { 1 } ifelse def
  /r page /Rotate knownoget { cvi 90 idiv 4 mod dup 0 lt { 4 add } if } { 0 } ifelse def
  /w x1 x0 sub u mul def /h y1 y0 sub u mul def
  /crosswise { w h /w exch def /h exch def } def
  r 2 mod 1 eq { crosswise } if
  /t TURNS dup 0 lt { pop w h sub W H sub mul 0 lt { 1 } { 0 } ifelse } if def
  t 2 mod 1 eq { crosswise } if
  /sx W w div def /sy H h div def
  /s SCALE def
  ONLY_LARGER w W le h H le and and { /s 1 def } if
  W 2 div H 2 div translate t 90 mul rotate s u mul dup scale r -90 mul rotate
  x0 x1 add -2 div y0 y1 add -2 div translate
  boxname /MediaBox eq {
    page /CropBox knownoget { aload pop 2 index sub exch 3 index sub exch rectclip } if
  } if
  page end pdfshowpage_finish
} bind def)";

void replace(std::string &text, std::string_view name, const std::string &value) {
    text.replace(text.find(name), name.size(), value);
}

} // namespace

std::string open_document_command(const std::string &pdf, const PageLayout &layout) {
    std::string procedure = PAGE_PROCEDURE;
    replace(procedure, "TURNS", std::to_string(layout.quarter_turns));
    replace(procedure, "SCALE",
            layout.fit == PageFit::FIT    ? "sx sy gt { sy } { sx } ifelse"
            : layout.fit == PageFit::FILL ? "sx sy gt { sx } { sy } ifelse"
                                          : "1");
    replace(procedure, "ONLY_LARGER", layout.only_larger ? "true" : "false");
    return ps_string(pdf) + " (r) file runpdfbegin\n" + procedure;
}

std::string draw_page_command(uint32_t number) {
    return std::to_string(number) + " pdfgetpage tavripage";
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
