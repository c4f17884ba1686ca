#include "job_common.h"

#include <algorithm>

#include <unistd.h>

#include "delivery.h"
#include "job_settings.h"
#include "onward.h"

PrinterSetup *setup_of(pappl_job_t *job) {
    return setup_of_printer(papplJobGetPrinter(job));
}

WineSetup wine_setup_for(const AppConfig &config) {
    return {config.wine, config.exe, config.prefix, wine_environment(config), config.timeouts};
}

JobSettings settings_for(pappl_job_t *job, const pappl_pr_options_t &o, const PrinterSetup &s) {
    JobRequest request;
    request.media_name = o.media.size_name;
    request.media_width = o.media.size_width;
    request.media_length = o.media.size_length;
    request.media_source = o.media.source;
    request.sides = o.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? SidesChoice::LONG_EDGE
                    : o.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? SidesChoice::SHORT_EDGE
                                                                  : SidesChoice::ONE_SIDED;
    request.colour =
        o.header.cupsColorSpace == CUPS_CSPACE_SRGB || o.header.cupsColorSpace == CUPS_CSPACE_RGB;
    request.x_dpi = o.header.HWResolution[0];
    request.y_dpi = o.header.HWResolution[1];
    JobSettings js = map_job_request(request, s.choices);
    js.job_id = uint32_t(papplJobGetID(job));
    js.printer = s.wine_name;
    js.output_name =
        "tavri-app-" + std::to_string(getpid()) + "-" + std::to_string(papplJobGetID(job)) + ".prn";
    return js;
}

namespace {

// Hands the output to the printer's CUPS queue, trying again while CUPS
// cannot take it (the printer says so meanwhile), until the job is
// cancelled: a job is not lost to a queue that is down for a while.
bool deliver_onward(pappl_job_t *job, const WineJob &wine, const std::string &queue,
                    std::string &error) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    std::string title = papplJobGetName(job) ?: "";
    for (int wait = 5;; wait = std::min(wait * 2, 60)) {
        error = queue_refusal(queue);
        if (!error.empty())
            return false;
        if (deliver_to_queue(wine.setup.prefix, wine.settings.output_name, queue, title, error))
            break;
        papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; trying again in %d s", error.c_str(), wait);
        for (int second = 0; second < wait; ++second) {
            if (papplJobIsCanceled(job))
                return false;
            sleep(1);
        }
    }
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Handed to the CUPS queue %s", queue.c_str());
    return true;
}

} // namespace

bool finish_and_deliver(pappl_job_t *job, WineJob &wine, std::string &error) {
    std::string output;
    if (!wine_job_finish(wine, output)) {
        error = wine.error;
        return false;
    }
    PrinterSetup *setup = setup_of(job);
    std::string queue;
    {
        std::lock_guard<std::mutex> hold(setup->app->mutex); // the owner may change it
        queue = setup->queue;
    }
    if (!queue.empty())
        return deliver_onward(job, wine, queue, error);
    std::string stem = output_file_stem(papplJobGetID(job), papplJobGetName(job) ?: "");
    std::string delivered;
    if (!deliver_output(wine.setup.prefix, wine.settings.output_name, setup->app->config.output_dir,
                        stem, delivered, error))
        return false;
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Delivered to %s", delivered.c_str());
    return true;
}

bool report_job_failure(pappl_job_t *job, const std::string &why, pappl_jreason_t reason) {
    std::string message = why.substr(0, 200);
    for (char &c : message)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    papplJobSetMessage(job, "%s", message.c_str());
    papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
    return false;
}
