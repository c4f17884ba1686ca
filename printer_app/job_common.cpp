#include "job_common.h"

#include <algorithm>
#include <memory>

#include <unistd.h>

#include "delivery.h"
#include "job_settings.h"
#include "cups_queues.h"
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

// Where the printer's jobs go now: the owner may change it while a job waits.
std::string current_destination(const PrinterSetup &setup) {
    std::lock_guard<std::mutex> hold(setup.app->mutex);
    return setup.destination;
}

OnwardCheck onward_check(pappl_job_t *job) {
    OnwardCheck check;
    check.queues_known = cups_queues(check.queues);
    check.own_port = papplSystemGetHostPort(papplPrinterGetSystem(papplJobGetPrinter(job)));
    return check;
}

bool deliver_to_folder(pappl_job_t *job, const WineJob &wine, const PrinterSetup &setup,
                       std::string &error) {
    std::string stem = output_file_stem(papplJobGetID(job), papplJobGetName(job) ?: "");
    std::string delivered;
    if (!deliver_output(wine.setup.prefix, wine.settings.output_name, setup.app->config.output_dir,
                        stem, delivered, error))
        return false;
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Delivered to %s", delivered.c_str());
    return true;
}

// Waits `seconds` unless the job is cancelled meanwhile.
bool wait_unless_cancelled(pappl_job_t *job, int seconds) {
    for (int second = 0; second < seconds; ++second) {
        if (papplJobIsCanceled(job))
            return false;
        sleep(1);
    }
    return true;
}

// Hands the output on to the printer's destination, trying again while it
// cannot take it (the printer says so meanwhile), until the job is cancelled:
// a job is not lost to a printer that is off for a while. A destination
// that leads back, or refuses the document, ends the job.
bool deliver_onward(pappl_job_t *job, const WineJob &wine, const PrinterSetup &setup,
                    std::string &error) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    std::string title = papplJobGetName(job) ?: "";
    // The printer says it is offline only while a job waits on its destination.
    auto back_online = [](pappl_printer_t *p) {
        papplPrinterSetReasons(p, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    };
    std::unique_ptr<pappl_printer_t, decltype(back_online)> online(printer, back_online);
    for (int wait = 5;; wait = std::min(wait * 2, 60)) {
        std::string destination = current_destination(setup);
        if (destination.empty())
            return deliver_to_folder(job, wine, setup, error);
        error = onward_refusal(destination, onward_check(job));
        if (!error.empty())
            return false;
        OnwardResult result =
            deliver_onward_output(wine.setup.prefix, wine.settings.output_name, destination, title);
        error = result.error;
        if (result.sent) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Handed on to %s",
                        public_destination(destination).c_str());
            return true;
        }
        if (result.refused)
            return false;
        papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; trying again in %d s", error.c_str(), wait);
        if (!wait_unless_cancelled(job, wait))
            return false;
    }
}

} // namespace

bool finish_and_deliver(pappl_job_t *job, WineJob &wine, std::string &error) {
    std::string output;
    if (!wine_job_finish(wine, output)) {
        error = wine.error;
        return false;
    }
    const PrinterSetup &setup = *setup_of(job);
    return current_destination(setup).empty() ? deliver_to_folder(job, wine, setup, error)
                                              : deliver_onward(job, wine, setup, error);
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
