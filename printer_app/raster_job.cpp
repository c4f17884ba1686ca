#include "raster_job.h"

#include <cstring>
#include <filesystem>
#include <memory>

#include <unistd.h>

#include "job_common.h"
#include "job_watch.h"
#include "page_image.h"
#include "wine_job.h"

namespace {

// A heartbeat is considered after this many lines: a line takes far less
// than the program's patience.
constexpr unsigned LINES_PER_KEEP_ALIVE = 64;

struct RasterJob {
    WineJob wine;
    JobWatch watch;
    std::string folder; // the job's page files
    PageFile page;
    unsigned pages_made = 0;
    bool failed = false;
};

// The first failure is the job's: what follows it is its consequence.
bool fail(RasterJob &rj, const std::string &why,
          pappl_jreason_t reason = PAPPL_JREASON_ERRORS_DETECTED) {
    if (!rj.failed)
        fail_watched_job(rj.watch, rj.wine, why, reason);
    rj.failed = true;
    return false;
}

void release(pappl_job_t *job, RasterJob *rj) {
    page_file_discard(rj->page);
    if (rj->wine.peer.pid > 0 || rj->wine.lock_fd >= 0)
        wine_job_abandon(rj->wine, "the job ended");
    std::error_code ignored;
    if (!rj->folder.empty())
        std::filesystem::remove_all(rj->folder, ignored);
    papplJobSetData(job, nullptr);
    delete rj;
}

bool start_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *) {
    PrinterSetup *setup = setup_of(job);
    if (!setup)
        return false;
    auto rj = std::make_unique<RasterJob>();
    const AppConfig &config = setup->app->config;
    rj->watch = watch_job(job, config.limits);
    rj->wine.setup = wine_setup_for(config);
    rj->wine.settings = settings_for(job, *options, *setup);
    rj->folder = make_page_folder("tavri-app");
    if (rj->folder.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No folder for the page images");
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Starting the Wine printer %s", setup->wine_name.c_str());
    RasterJob *raw = rj.release();
    papplJobSetData(job, raw);
    watch_wine_job(raw->watch, raw->wine);
    if (!wine_job_launch(raw->wine)) {
        fail(*raw, raw->wine.error);
        release(job, raw);
        return false;
    }
    watch_output(raw->watch, raw->wine);
    return true;
}

bool start_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
    auto *rj = static_cast<RasterJob *>(papplJobGetData(job));
    if (!rj || rj->failed)
        return false;
    const cups_page_header2_t &h = options->header;
    std::optional<PixelKind> kind =
        pixel_kind(h.cupsColorSpace, h.cupsBitsPerColor, h.cupsBitsPerPixel);
    if (!kind)
        return fail(*rj,
                    "a raster of colour space " + std::to_string(h.cupsColorSpace) + " at " +
                        std::to_string(h.cupsBitsPerPixel) + " bits per pixel cannot be printed",
                    PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
    RasterFormat format{h.cupsWidth,       h.cupsHeight,      h.cupsBytesPerLine,
                        h.HWResolution[0], h.HWResolution[1], *kind};
    std::string error;
    if (!page_file_create(rj->page, rj->folder, rj->pages_made + 1, format,
                          rj->watch.limits.max_page_bytes, error))
        return fail(*rj, "page " + std::to_string(rj->pages_made + 1) + ": " + error,
                    PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
    if (!peer_keep_alive(rj->wine.peer))
        return fail(*rj, rj->wine.peer.error);
    return true;
}

bool write_line(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned y,
                const unsigned char *line) {
    auto *rj = static_cast<RasterJob *>(papplJobGetData(job));
    if (!rj || rj->failed)
        return false;
    if (!page_file_write_line(rj->page, y, line, options->header.cupsBytesPerLine))
        return fail(*rj, "a raster line cannot be written");
    if (y % LINES_PER_KEEP_ALIVE == 0 && !peer_keep_alive(rj->wine.peer))
        return fail(*rj, rj->wine.peer.error);
    return true;
}

bool end_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
    auto *rj = static_cast<RasterJob *>(papplJobGetData(job));
    if (!rj || rj->failed)
        return false;
    std::string path = rj->page.path;
    if (!page_file_finish(rj->page))
        return fail(*rj, "a page image cannot be written");
    rj->page.path.clear();
    rj->wine.pending.push_back(path);
    ++rj->pages_made;
    // With the page total known in advance, pages print as they come;
    // otherwise they wait for the job's end.
    if (!rj->wine.started && options->num_pages > 0 &&
        !wine_job_start(rj->wine, options->num_pages))
        return fail(*rj, rj->wine.error);
    if (!wine_job_send_pages(rj->wine, job_must_stop, &rj->watch))
        return fail(*rj, rj->wine.error);
    return true;
}

bool finish_job(pappl_job_t *job, RasterJob &rj) {
    if (rj.failed)
        return false;
    if (job_must_stop(&rj.watch))
        return fail(rj, rj.watch.reason);
    if (!rj.wine.started && !wine_job_start(rj.wine, uint32_t(rj.wine.pending.size())))
        return fail(rj, rj.wine.error);
    if (!wine_job_send_pages(rj.wine, job_must_stop, &rj.watch))
        return fail(rj, rj.wine.error);
    if (rj.wine.sent != rj.wine.announced)
        return fail(rj, "the job had " + std::to_string(rj.wine.sent) + " pages, not the " +
                            std::to_string(rj.wine.announced) + " it announced");
    std::string error;
    return finish_and_deliver(job, rj.wine, error) || fail(rj, error);
}

bool end_job(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
    auto *rj = static_cast<RasterJob *>(papplJobGetData(job));
    if (!rj)
        return false;
    bool fine = finish_job(job, *rj);
    release(job, rj);
    return fine;
}

} // namespace

bool fail_raster_job(pappl_job_t *job, const std::string &why, pappl_jreason_t reason) {
    auto *rj = static_cast<RasterJob *>(papplJobGetData(job));
    return rj ? fail(*rj, why, reason) : report_job_failure(job, why, reason);
}

void set_raster_callbacks(pappl_pr_driver_data_t *data) {
    data->rstartjob_cb = start_job;
    data->rstartpage_cb = start_page;
    data->rwriteline_cb = write_line;
    data->rendpage_cb = end_page;
    data->rendjob_cb = end_job;
}
