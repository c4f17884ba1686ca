#include "pdf_plan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

namespace {

std::string document_problem(uint32_t pages) {
    if (pages == 0)
        return "the document has no pages";
    if (pages > MAX_DOCUMENT_PAGES)
        return "the document has " + std::to_string(pages) + " pages, more than " +
               std::to_string(MAX_DOCUMENT_PAGES);
    return "";
}

// How many pages of 1..count the ranges select, repeats included.
uint64_t selected_count(uint32_t count, const std::vector<PageRange> &ranges) {
    uint64_t total = 0;
    for (const PageRange &r : ranges) {
        uint32_t first = std::max<uint32_t>(r.first, 1), last = std::min(r.last, count);
        total += first <= last ? last - first + 1 : 0;
    }
    return total;
}

// The pages of 1..count that the ranges select, in the ranges' order; the
// caller has bounded their number.
std::vector<uint32_t> selected_pages(uint32_t count, const std::vector<PageRange> &ranges) {
    std::vector<uint32_t> numbers;
    for (const PageRange &r : ranges)
        for (uint32_t n = std::max<uint32_t>(r.first, 1); n <= std::min(r.last, count); ++n)
            numbers.push_back(n);
    return numbers;
}

// `run` printed `copies` times: as a whole each time, or each page in turn.
void add_copies(std::vector<PlannedPage> &pages, const std::vector<PlannedPage> &run,
                uint32_t copies, bool collate) {
    for (uint32_t i = 0; i < run.size() * copies; ++i)
        pages.push_back(collate ? run[i % run.size()] : run[i / copies]);
}

// The pages selected from a run of `count`, or why none or too many are.
std::string select(uint32_t count, const PagePlanRequest &r, std::vector<uint32_t> &numbers) {
    std::vector<PageRange> ranges = r.ranges.empty() ? std::vector<PageRange>{{}} : r.ranges;
    uint64_t total = selected_count(count, ranges);
    if (total == 0)
        return "no page of the " + std::to_string(count) + " in the document is in the page range";
    if (std::string refusal =
            page_total_problem(total * uint64_t(std::max(r.copies, 1)), r.max_pages);
        !refusal.empty())
        return refusal;
    numbers = selected_pages(count, ranges);
    return "";
}

std::string plan_each_document(const PagePlanRequest &r, std::vector<PlannedPage> &pages) {
    const uint32_t copies = uint32_t(std::max(r.copies, 1));
    for (uint32_t d = 0; d < r.document_pages.size(); ++d) {
        std::vector<uint32_t> numbers;
        std::string refusal = document_problem(r.document_pages[d]);
        if (refusal.empty())
            refusal = select(r.document_pages[d], r, numbers);
        if (!refusal.empty())
            return refusal;
        std::vector<PlannedPage> run;
        for (uint32_t n : numbers)
            run.push_back({d, n});
        add_copies(pages, run, copies, r.collate);
        if (refusal = page_total_problem(pages.size(), r.max_pages); !refusal.empty())
            return refusal;
    }
    return "";
}

std::string plan_through_documents(const PagePlanRequest &r, std::vector<PlannedPage> &pages) {
    std::vector<PlannedPage> all;
    for (uint32_t d = 0; d < r.document_pages.size(); ++d) {
        if (std::string refusal = document_problem(r.document_pages[d]); !refusal.empty())
            return refusal;
        if (std::string refusal = page_total_problem(all.size() + r.document_pages[d], r.max_pages);
            !refusal.empty())
            return refusal;
        for (uint32_t n = 1; n <= r.document_pages[d]; ++n)
            all.push_back({d, n});
    }
    std::vector<uint32_t> numbers;
    if (std::string refusal = select(uint32_t(all.size()), r, numbers); !refusal.empty())
        return refusal;
    std::vector<PlannedPage> run;
    for (uint32_t n : numbers)
        run.push_back(all[n - 1]);
    add_copies(pages, run, uint32_t(std::max(r.copies, 1)), r.collate);
    return "";
}

std::optional<uint32_t> page_number(std::string_view text) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace

std::string parse_page_ranges(std::string_view text, std::vector<PageRange> &ranges) {
    ranges.clear();
    for (size_t at = 0; at <= text.size();) {
        size_t comma = std::min(text.find(',', at), text.size());
        std::string_view part = text.substr(at, comma - at);
        at = comma + 1;
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ')
            part.remove_suffix(1);
        size_t dash = part.find('-');
        std::string_view low = part.substr(0, dash);
        std::string_view high = dash == part.npos ? low : part.substr(dash + 1);
        std::optional<uint32_t> first = low.empty() && dash != part.npos ? 1 : page_number(low);
        std::optional<uint32_t> last =
            high.empty() && dash != part.npos ? UINT32_MAX : page_number(high);
        if (!first || !last)
            return "page range '" + std::string(part) + "': expected N, N-M, N- or -M";
        if (*first < 1 || *last < *first)
            return "page range '" + std::string(part) + "' is empty";
        ranges.push_back({*first, *last});
    }
    return "";
}

std::string plan_job_pages(const PagePlanRequest &request, std::vector<PlannedPage> &pages) {
    pages.clear();
    std::string refusal = request.ranges_per_document ? plan_each_document(request, pages)
                                                      : plan_through_documents(request, pages);
    if (!refusal.empty())
        pages.clear();
    return refusal;
}

uint32_t estimate_dpi(uint32_t width, uint32_t height, double page_width, double page_height) {
    static const uint32_t common[] = {72,  75,  96,  100, 120, 150, 180,  200,
                                      240, 300, 360, 400, 600, 720, 1200, 2400};
    double longest = std::max(page_width, page_height);
    if (!(longest > 0))
        return 300;
    double dpi = std::max(width, height) * 72.0 / longest;
    uint32_t nearest = common[0];
    for (uint32_t c : common)
        if (std::abs(c - dpi) < std::abs(nearest - dpi))
            nearest = c;
    if (std::abs(nearest - dpi) <= 0.08 * nearest)
        return nearest;
    return uint32_t(std::clamp(std::lround(dpi), 1l, 9600l));
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

std::string page_box_command() {
    return "1 pdfgetpage /MediaBox pget pop ==";
}

std::optional<std::pair<double, double>> parse_page_box(std::string_view line) {
    double box[4];
    if (sscanf(std::string(line).c_str(), "[%lf %lf %lf %lf]", &box[0], &box[1], &box[2],
               &box[3]) != 4)
        return std::nullopt;
    return std::pair{std::fabs(box[2] - box[0]), std::fabs(box[3] - box[1])};
}
