#include "job_common.h"

#include <cmath>

#include <unistd.h>

#include "delivery.h"

namespace {

uint32_t hundredths_mm_to_points(int hundredths) {
    return uint32_t(std::lround(hundredths * 72.0 / 2540.0));
}

} // namespace

PrinterSetup *setup_of(pappl_job_t *job) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    return static_cast<PrinterSetup *>(data.extension);
}

WineSetup wine_setup_for(const AppConfig &config) {
    return {config.wine, config.exe, config.prefix, wine_environment(config), config.timeouts};
}

JobSettings settings_for(pappl_job_t *job, const pappl_pr_options_t &o, const PrinterSetup &s) {
    const DriverChoices &c = s.choices;
    JobSettings js;
    js.job_id = uint32_t(papplJobGetID(job));
    js.printer = s.wine_name;
    js.output_name =
        "tavri-app-" + std::to_string(getpid()) + "-" + std::to_string(papplJobGetID(job)) + ".prn";
    js.paper = hundredths_mm_to_points(o.media.size_width) << 16 |
               hundredths_mm_to_points(o.media.size_length);
    for (const MediaChoice &m : c.media)
        if (m.pwg_name == o.media.size_name)
            js.paper = m.points;
    for (const SourceChoice &source : c.sources)
        if (source.keyword == o.media.source && source.bin_id > 0)
            js.paper_source = uint32_t(source.bin_id);
    if (c.duplex)
        js.duplex = o.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? 2u
                    : o.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? 3u
                                                                  : 1u;
    if (c.color)
        js.color = o.header.cupsColorSpace == CUPS_CSPACE_SRGB ||
                           o.header.cupsColorSpace == CUPS_CSPACE_RGB
                       ? JOB_COLOR_COLOR
                       : JOB_COLOR_MONO;
    if (o.header.HWResolution[0] > 0 && o.header.HWResolution[1] > 0) {
        js.x_dpi = o.header.HWResolution[0];
        js.y_dpi = o.header.HWResolution[1];
    }
    return js;
}

bool finish_and_deliver(pappl_job_t *job, WineJob &wine) {
    std::string output;
    if (!wine_job_finish(wine, output)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", wine.error.c_str());
        return false;
    }
    PrinterSetup *setup = setup_of(job);
    std::string stem = output_file_stem(papplJobGetID(job), papplJobGetName(job) ?: "");
    std::string delivered, error;
    if (!deliver_output(wine.setup.prefix, wine.settings.output_name, setup->app->config.output_dir,
                        stem, delivered, error)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Delivered to %s", delivered.c_str());
    return true;
}

bool job_is_cancelled(void *job) {
    return papplJobIsCanceled(static_cast<pappl_job_t *>(job));
}
