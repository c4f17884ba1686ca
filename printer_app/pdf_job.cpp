#include "pdf_job.h"

#include <filesystem>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ghostscript.h"
#include "job_common.h"
#include "job_limits.h"
#include "job_watch.h"
#include "pdf_plan.h"

namespace {

// A larger document is refused before Ghostscript reads it.
constexpr uint64_t MAX_PDF_BYTES = uint64_t(1) << 30;
// Counting the pages opens the document, no more.
constexpr int COUNT_TIMEOUT_MS = 120 * 1000;

// One document of the job's file: CUPS sends the documents of a job as one.
struct PdfDocument {
    std::string path;
    uint32_t pages = 0;
    PdfPagePlan plan;
};

// Everything a PDF job holds; released by its destructor on every path.
struct PdfJob {
    pappl_job_t *job = nullptr;
    const PrinterSetup *setup = nullptr;
    std::string file, folder;
    std::vector<PdfDocument> documents;
    size_t document = 0; // the one Ghostscript reads
    std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options;
    uint32_t total = 0;
    PageColour colour = PageColour::GREY;
    PageLayout layout;
    Ghostscript gs;
    WineJob wine;
    JobWatch watch;

    ~PdfJob() {
        ghostscript_stop(gs);
        if (wine.peer.pid > 0 || wine.lock_fd >= 0)
            wine_job_abandon(wine, "the job ended");
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
};

// Logs why the job stops, says it in the job's state, and ends the program's job.
bool fail(PdfJob &pj, const std::string &why,
          pappl_jreason_t reason = PAPPL_JREASON_ERRORS_DETECTED) {
    return fail_watched_job(pj.watch, pj.wine, why, reason);
}

bool bad_document(PdfJob &pj, const std::string &why) {
    return fail(pj, why, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

// While Ghostscript works: the job may be cancelled or pass a bound, and
// the program is kept from giving up on us.
bool keep_going(void *context) {
    auto &pj = *static_cast<PdfJob *>(context);
    return !job_must_stop(&pj.watch) && (!pj.wine.started || peer_keep_alive(pj.wine.peer));
}

PrintScaling print_scaling(pappl_scaling_t scaling) {
    switch (scaling) {
    case PAPPL_SCALING_AUTO_FIT:
        return PrintScaling::AUTO_FIT;
    case PAPPL_SCALING_FILL:
        return PrintScaling::FILL;
    case PAPPL_SCALING_FIT:
        return PrintScaling::FIT;
    case PAPPL_SCALING_NONE:
        return PrintScaling::NONE;
    default:
        return PrintScaling::AUTO;
    }
}

bool write_new_file(const std::string &path, std::string_view data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    while (!data.empty()) {
        ssize_t written = write(fd, data.data(), data.size());
        if (written <= 0)
            break;
        data.remove_prefix(size_t(written));
    }
    return close(fd) == 0 && data.empty();
}

// The job's file as its documents, each a file of its own when there are
// several.
bool split_documents(PdfJob &pj) {
    int fd = open(pj.file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    void *mapped = fd >= 0 && fstat(fd, &info) == 0 && info.st_size > 0
                       ? mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0)
                       : MAP_FAILED;
    if (fd >= 0)
        close(fd);
    if (mapped == MAP_FAILED)
        return bad_document(pj, "the PDF document cannot be read");
    std::string_view data(static_cast<const char *>(mapped), size_t(info.st_size));
    std::vector<size_t> starts = pdf_document_starts(data);
    bool written = true;
    for (size_t i = 0; i < starts.size() && starts.size() > 1; ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1] : data.size();
        std::string path = pj.folder + "/document-" + std::to_string(i + 1) + ".pdf";
        written = written && write_new_file(path, data.substr(starts[i], end - starts[i]));
        pj.documents.push_back({path, 0, {}});
    }
    munmap(mapped, data.size());
    if (starts.size() == 1)
        pj.documents.push_back({pj.file, 0, {}});
    return written || fail(pj, "the job's documents cannot be kept apart in " + pj.folder);
}

const PdfDocument &current(const PdfJob &pj) {
    return pj.documents[pj.document];
}

bool count_pages(PdfJob &pj, uint32_t &pages) {
    Ghostscript counter;
    counter.limits.command_ms = COUNT_TIMEOUT_MS;
    bool fine = ghostscript_start(counter, {"-dNODISPLAY"}, current(pj).path) &&
                ghostscript_send(counter, page_count_command(current(pj).path)) &&
                ghostscript_wait(counter, keep_going, &pj);
    std::optional<uint32_t> count = parse_page_count(counter.last_line);
    std::string error = fine ? counter.last_line : counter.error;
    ghostscript_stop(counter);
    if (!fine || !count)
        return bad_document(pj, "the PDF document cannot be read: " + error);
    if (*count == 0) // what Ghostscript makes of a damaged document
        return bad_document(pj, "the PDF document has no pages");
    pages = *count;
    return true;
}

bool uncollated(pappl_job_t *job) {
    ipp_attribute_t *handling = papplJobGetAttribute(job, "multiple-document-handling");
    const char *value = handling ? ippGetString(handling, 0, nullptr) : nullptr;
    return value && strcmp(value, "separate-documents-uncollated-copies") == 0;
}

// The pages of each document, the job's page ranges applying to each one.
bool plan_documents(PdfJob &pj) {
    const pappl_pr_options_t &o = *pj.options;
    const bool collate = !uncollated(pj.job);
    for (PdfDocument &d : pj.documents) {
        const uint64_t max_pages = pj.watch.limits.max_pages;
        PdfPageRequest request{d.pages, o.first_page, o.last_page, o.copies, collate, max_pages};
        std::string refusal = plan_pdf_pages(request, d.plan);
        pj.total += d.plan.total;
        if (refusal.empty())
            refusal = page_total_problem(pj.total, max_pages);
        if (!refusal.empty())
            return fail(pj, refusal, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
    }
    return true;
}

// The pages, colour and program's job for the documents' pages.
bool plan_job(PdfJob &pj, uint32_t document_pages) {
    pj.options.reset(papplJobCreatePrintOptions(pj.job, document_pages, pj.setup->choices.color));
    if (!pj.options)
        return fail(pj, "no memory for the job's options");
    const pappl_pr_options_t &o = *pj.options;
    if (!plan_documents(pj))
        return false;
    pj.colour =
        page_colour(o.print_color_mode == PAPPL_COLOR_MODE_COLOR,
                    o.print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL, pj.setup->choices.color);
    pj.layout = page_layout(int(o.orientation_requested),
                            papplJobGetAttribute(pj.job, "orientation-requested") != nullptr,
                            print_scaling(o.print_scaling));
    pj.wine.setup = wine_setup_for(pj.setup->app->config);
    pj.wine.settings = settings_for(pj.job, o, *pj.setup);
    // A job that names no resolution, and no quality but "normal" (which
    // CUPS's queues send for their default), prints at the driver's default,
    // as the root-made queue does: the printer system would take the middle
    // of the offered list for "normal" (600 dpi of 150 to 1200).
    const DeviceResolution &usual = pj.setup->choices.default_resolution;
    ipp_attribute_t *quality = papplJobGetAttribute(pj.job, "print-quality");
    if (!papplJobGetAttribute(pj.job, "printer-resolution") &&
        (!quality || ippGetInteger(quality, 0) == IPP_QUALITY_NORMAL) && usual.x > 0 &&
        usual.y > 0) {
        pj.wine.settings.x_dpi = uint32_t(usual.x);
        pj.wine.settings.y_dpi = uint32_t(usual.y);
    }
    if (pj.colour != PageColour::COLOR && pj.wine.settings.color)
        pj.wine.settings.color = JOB_COLOR_MONO;
    papplJobSetImpressions(pj.job, int(pj.total));
    return true;
}

// Ghostscript for pages of the printable size the program reported,
// refused when such a page would pass the page limit.
bool start_rendering(PdfJob &pj) {
    uint32_t width = pj.wine.printable_width, height = pj.wine.printable_height;
    uint32_t x_dpi = pj.wine.settings.x_dpi.value_or(300);
    uint32_t y_dpi = pj.wine.settings.y_dpi.value_or(x_dpi);
    RasterFormat format{width, height, width * 3, x_dpi, y_dpi, page_pixel_kind(pj.colour)};
    BmpLayout layout;
    PageRefusal refusal = plan_page(format, pj.watch.limits.max_page_bytes, layout);
    if (refusal != PageRefusal::NONE)
        return fail(pj, "the printer's page of " + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels: " + page_refusal_text(refusal));
    static const char *const fits[] = {"fitted", "filling it", "at their own size"};
    std::string turned = pj.layout.quarter_turns < 0
                             ? "turned where that suits the paper"
                             : "turned " + std::to_string(pj.layout.quarter_turns) +
                                   " quarter turns counter-clockwise";
    papplLogJob(pj.job, PAPPL_LOGLEVEL_INFO,
                "Pages of %u x %u pixels at %u x %u dpi; the document's pages %s, %s%s", width,
                height, x_dpi, y_dpi, turned.c_str(), fits[int(pj.layout.fit)],
                pj.layout.only_larger ? " where larger" : "");
    std::vector<std::string> args =
        render_arguments(pj.colour, width, height, x_dpi, y_dpi,
                         pj.folder + "/gs-" + std::to_string(pj.document) + "-%d.bmp");
    if (!ghostscript_start(pj.gs, args, current(pj).path) ||
        !ghostscript_send(pj.gs, open_document_command(current(pj).path, pj.layout)) ||
        !ghostscript_wait(pj.gs, keep_going, &pj))
        return bad_document(pj, "the PDF document cannot be opened: " + pj.gs.error);
    return true;
}

bool ask_for_page(PdfJob &pj, uint32_t index) {
    uint32_t number = pdf_page_number(current(pj).plan, index);
    if (!ghostscript_send(pj.gs, draw_page_command(number)))
        return bad_document(pj, "page " + std::to_string(number) + ": " + pj.gs.error);
    return true;
}

// Waits for the index-th page of the run and hands it to the program's job.
bool take_page(PdfJob &pj, uint32_t index) {
    uint32_t number = pdf_page_number(current(pj).plan, index);
    std::string what = "page " + std::to_string(number) + " of the PDF document";
    if (!ghostscript_wait(pj.gs, keep_going, &pj))
        return bad_document(pj, what + ": " + pj.gs.error);
    std::string path =
        pj.folder + "/gs-" + std::to_string(pj.document) + "-" + std::to_string(index + 1) + ".bmp";
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return bad_document(pj, what + " cannot be drawn: " + pj.gs.last_line);
    if (uint64_t(info.st_size) > pj.watch.limits.max_page_bytes)
        return fail(pj, what + " came out larger than the page limit");
    pj.wine.pending.push_back(path);
    return true;
}

// Each page is drawn while the one before it prints.
bool print_pages(PdfJob &pj) {
    if (!ask_for_page(pj, 0))
        return false;
    const uint32_t total = current(pj).plan.total;
    for (uint32_t index = 0; index < total; ++index) {
        if (!take_page(pj, index) || (index + 1 < total && !ask_for_page(pj, index + 1)))
            return false;
        if (!wine_job_send_pages(pj.wine, job_must_stop, &pj.watch))
            return fail(pj, pj.wine.error);
        papplJobSetImpressionsCompleted(pj.job, 1);
    }
    return true;
}

bool print_pdf(PdfJob &pj) {
    struct stat info {};
    if (!pj.setup)
        return false;
    if (stat(pj.file.c_str(), &info) != 0 || uint64_t(info.st_size) > MAX_PDF_BYTES)
        return fail(pj, "the PDF document is missing or larger than " +
                            std::to_string(MAX_PDF_BYTES >> 20) + " MiB");
    pj.folder = make_page_folder("tavri-pdf");
    if (pj.folder.empty())
        return fail(pj, "no folder for the page images");
    if (!split_documents(pj))
        return false;
    uint32_t pages = 0;
    for (pj.document = 0; pj.document < pj.documents.size(); ++pj.document) {
        if (!count_pages(pj, pj.documents[pj.document].pages))
            return false;
        pages += current(pj).pages;
    }
    if (!plan_job(pj, pages))
        return false;
    papplLogJob(pj.job, PAPPL_LOGLEVEL_INFO,
                "%u pages of %u in %u documents, %d copies%s, on the Wine printer %s", pj.total,
                pages, unsigned(pj.documents.size()), pj.options->copies,
                pj.documents[0].plan.collate ? "" : " uncollated", pj.setup->wine_name.c_str());
    watch_wine_job(pj.watch, pj.wine);
    if (!wine_job_launch(pj.wine))
        return fail(pj, pj.wine.error);
    watch_output(pj.watch, pj.wine);
    if (!wine_job_start(pj.wine, pj.total))
        return fail(pj, pj.wine.error);
    for (pj.document = 0; pj.document < pj.documents.size(); ++pj.document) {
        if (!start_rendering(pj) || !print_pages(pj))
            return false;
        ghostscript_stop(pj.gs);
    }
    if (job_must_stop(&pj.watch))
        return fail(pj, pj.watch.reason);
    std::string error;
    return finish_and_deliver(pj.job, pj.wine, error) || fail(pj, error);
}

bool pdf_filter(pappl_job_t *job, pappl_device_t *, void *) {
    PdfJob pj;
    pj.job = job;
    pj.setup = setup_of(job);
    pj.file = papplJobGetFilename(job) ?: "";
    pj.watch = watch_job(job, pj.setup ? pj.setup->app->config.limits : JobLimits{});
    return print_pdf(pj);
}

} // namespace

void add_pdf_filter(pappl_system_t *system, AppState &app) {
    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pdf_filter, &app);
}
