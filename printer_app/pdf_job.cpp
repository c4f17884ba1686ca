#include "pdf_job.h"

#include <cstring>
#include <memory>

#include "document_job.h"
#include "job_common.h"
#include "job_watch.h"

namespace {

// What the printer system's job gives the engine: its file, options and
// watch; the engine's pages become the job's impressions.
struct PdfJob {
    pappl_job_t *job = nullptr;
    const PrinterSetup *setup = nullptr;
    std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options;
    JobWatch watch;
    DocumentJob engine;
};

pappl_jreason_t reason_for(JobFault fault) {
    switch (fault) {
    case JobFault::BAD_DOCUMENT:
        return PAPPL_JREASON_DOCUMENT_FORMAT_ERROR;
    case JobFault::UNPRINTABLE:
        return PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    default:
        return PAPPL_JREASON_ERRORS_DETECTED;
    }
}

// Says why the job stopped in its state; the engine has ended the
// program's job already.
bool fail(PdfJob &pj, const std::string &why, pappl_jreason_t reason) {
    WineJob ended;
    return fail_watched_job(pj.watch, ended, why, reason);
}

bool engine_failed(PdfJob &pj) {
    return fail(pj, pj.engine.error, reason_for(pj.engine.fault));
}

bool must_stop(void *context) {
    return job_must_stop(&static_cast<PdfJob *>(context)->watch);
}

void launched(void *context, const WineJob &wine) {
    watch_output(static_cast<PdfJob *>(context)->watch, wine);
}

void planned(void *context, uint32_t pages) {
    auto &pj = *static_cast<PdfJob *>(context);
    uint32_t document_pages = 0;
    for (const JobDocument &d : pj.engine.documents)
        document_pages += d.pages;
    papplLogJob(pj.job, PAPPL_LOGLEVEL_INFO,
                "%u pages of %u in %u documents, %d copies%s, on the Wine printer %s", pages,
                document_pages, unsigned(pj.engine.documents.size()), pj.options->copies,
                pj.engine.collate ? "" : " uncollated", pj.setup->wine_name.c_str());
    papplJobSetImpressions(pj.job, int(pages));
}

void printed(void *context, uint32_t) {
    papplJobSetImpressionsCompleted(static_cast<PdfJob *>(context)->job, 1);
}

void log_line(void *context, const std::string &line) {
    papplLogJob(static_cast<PdfJob *>(context)->job, PAPPL_LOGLEVEL_INFO, "%s", line.c_str());
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

bool uncollated(pappl_job_t *job) {
    ipp_attribute_t *handling = papplJobGetAttribute(job, "multiple-document-handling");
    const char *value = handling ? ippGetString(handling, 0, nullptr) : nullptr;
    return value && strcmp(value, "separate-documents-uncollated-copies") == 0;
}

// The engine's request from the job's options: its range for each
// document, copies, colour, layout and the program's settings.
bool request_pages(PdfJob &pj, uint32_t document_pages) {
    pj.options.reset(papplJobCreatePrintOptions(pj.job, document_pages, pj.setup->choices.color));
    if (!pj.options)
        return fail(pj, "no memory for the job's options", PAPPL_JREASON_ERRORS_DETECTED);
    const pappl_pr_options_t &o = *pj.options;
    DocumentJob &e = pj.engine;
    e.ranges = {{uint32_t(o.first_page), uint32_t(o.last_page)}};
    e.copies = o.copies;
    e.collate = !uncollated(pj.job);
    e.colour =
        page_colour(o.print_color_mode == PAPPL_COLOR_MODE_COLOR,
                    o.print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL, pj.setup->choices.color);
    e.layout = page_layout(int(o.orientation_requested),
                           papplJobGetAttribute(pj.job, "orientation-requested") != nullptr,
                           print_scaling(o.print_scaling));
    e.wine.setup = wine_setup_for(pj.setup->app->config);
    e.wine.settings = settings_for(pj.job, o, *pj.setup);
    // A job that names no resolution, and no quality but "normal" (which
    // CUPS's queues send for their default), prints at the driver's default,
    // as the root-made queue does: the printer system would take the middle
    // of the offered list for "normal" (600 dpi of 150 to 1200).
    const DeviceResolution &usual = pj.setup->choices.default_resolution;
    ipp_attribute_t *quality = papplJobGetAttribute(pj.job, "print-quality");
    if (!papplJobGetAttribute(pj.job, "printer-resolution") &&
        (!quality || ippGetInteger(quality, 0) == IPP_QUALITY_NORMAL) && usual.x > 0 &&
        usual.y > 0) {
        e.wine.settings.x_dpi = uint32_t(usual.x);
        e.wine.settings.y_dpi = uint32_t(usual.y);
    }
    if (e.colour != PageColour::COLOR && e.wine.settings.color)
        e.wine.settings.color = JOB_COLOR_MONO;
    e.x_dpi = e.wine.settings.x_dpi.value_or(300);
    e.y_dpi = e.wine.settings.y_dpi.value_or(e.x_dpi);
    return true;
}

bool print_pdf(PdfJob &pj) {
    if (!pj.setup)
        return false;
    DocumentJob &e = pj.engine;
    e.host = {&pj, must_stop, launched, planned, printed, log_line};
    e.limits = pj.watch.limits;
    if (!open_documents(e, {{papplJobGetFilename(pj.job) ?: "", "", DocumentKind::PDF}}))
        return engine_failed(pj);
    uint32_t pages = 0;
    for (const JobDocument &d : e.documents)
        pages += d.pages;
    if (!request_pages(pj, pages))
        return false;
    watch_wine_job(pj.watch, e.wine);
    if (!print_documents(e))
        return engine_failed(pj);
    std::string error;
    return finish_and_deliver(pj.job, e.wine, error) ||
           fail(pj, error, PAPPL_JREASON_ERRORS_DETECTED);
}

bool pdf_filter(pappl_job_t *job, pappl_device_t *, void *) {
    PdfJob pj;
    pj.job = job;
    pj.setup = setup_of(job);
    pj.watch = watch_job(job, pj.setup ? pj.setup->app->config.limits : JobLimits{});
    return print_pdf(pj);
}

} // namespace

void add_pdf_filter(pappl_system_t *system, AppState &app) {
    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pdf_filter, &app);
}
