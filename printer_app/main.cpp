// tavri-printer-app: every Wine printer of one Wine prefix served as a
// driverless IPP printer (ipp://localhost:PORT/ipp/print/NAME), each job
// printed through the Windows program under Wine.
//
//   tavri-printer-app server [-o server-port=N] [-o output-directory=DIR]
//                            [-o log-file=FILE] [-o log-level=LEVEL]
//                            [-o state-file=FILE] [-o rescan-interval=SECONDS]
//
// Environment: WINEPREFIX (default ~/.wine), WINE, PROXY_EXE,
// TAVRI_OUTPUT_DIR (default ~/tavri-printed), where the driver's output of
// each job is delivered as job-ID-TITLE.EXT, TAVRI_RESCAN_SECONDS (default
// 60), how often the prefix is asked for printers added or removed, and
// XDG_STATE_HOME, under which the printers' settings are kept.
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <sys/stat.h>

#include "dnssd_scope.h"
#include "owner_only.h"
#include "pdf_job.h"
#include "printer_driver.h"
#include "printer_sync.h"

namespace {

pappl_pr_driver_t drivers[] = {{WINE_DRIVER_NAME, "Wine printer", nullptr, nullptr}};

const char *option(const char *name, int num_options, cups_option_t *options,
                   const char *fallback) {
    const char *value = cupsGetOption(name, num_options, options);
    return value && *value ? value : fallback;
}

pappl_loglevel_t log_level(const char *name) {
    static const struct {
        const char *name;
        pappl_loglevel_t level;
    } levels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG},
                  {"info", PAPPL_LOGLEVEL_INFO},
                  {"warn", PAPPL_LOGLEVEL_WARN},
                  {"error", PAPPL_LOGLEVEL_ERROR},
                  {"fatal", PAPPL_LOGLEVEL_FATAL}};
    for (const auto &entry : levels)
        if (strcmp(name, entry.name) == 0)
            return entry.level;
    return PAPPL_LOGLEVEL_INFO;
}

// PAPPL 1.3 looks the footer up without checking for one: every page of the
// web interface would crash the server without it. Its script points the
// links to this server back at the scheme it is served with: PAPPL 1.3 links
// the jobs page's "Cancel All Jobs" to https:// even without TLS.
constexpr const char *FOOTER =
    "Tavri Printer App<script>for (const a of document.links) if (a.host == location.host) "
    "a.protocol = location.protocol;</script>";

// Local users only, unless the listen address says otherwise; then PAPPL's
// own rules apply to where printers are advertised, and to who may
// administer: TLS only, and the password of the service's PAM stack.
// The system keeps the host name that PAPPL finds: PAPPL 1.3's
// papplSystemSetHostName also renames the machine, where it may (its
// /etc/hostname, its kernel and its Avahi host names).
void listen_on(pappl_system_t *system, const char *hostname) {
    papplSystemAddListeners(system, hostname);
    if (strcmp(hostname, "localhost") != 0)
        return;
    admit_only_the_owner_as_administrator(system);
    advertise_only_on_loopback();
}

pappl_system_t *create_system(int num_options, cups_option_t *options, void *data) {
    auto &app = *static_cast<AppState *>(data);
    app.config.output_dir =
        option("output-directory", num_options, options, app.config.output_dir.c_str());
    mkdir(app.config.output_dir.c_str(), 0700);
    app.config.state_file =
        option("state-file", num_options, options, app.config.state_file.c_str());
    app.config.rescan_seconds = atoi(option("rescan-interval", num_options, options,
                                            std::to_string(app.config.rescan_seconds).c_str()));
    int port = atoi(option("server-port", num_options, options, "0"));
    const char *hostname = option("listen-hostname", num_options, options, "localhost");
    bool local = strcmp(hostname, "localhost") == 0;
    pappl_system_t *system = papplSystemCreate(
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
            (local ? PAPPL_SOPTIONS_NO_TLS : PAPPL_SOPTIONS_NONE),
        "Tavri Printer App", port, "_print,_universal",
        option("spool-directory", num_options, options, nullptr),
        option("log-file", num_options, options, "-"),
        log_level(option("log-level", num_options, options, "info")),
        local ? nullptr : option("auth-service", num_options, options, "login"), !local);
    if (!system)
        return nullptr;
    listen_on(system, hostname);
    papplSystemSetFooterHTML(system, FOOTER);
    papplSystemSetPrinterDrivers(system, int(std::size(drivers)), drivers, nullptr, nullptr,
                                 wine_driver_callback, &app);
    register_wine_device_scheme();
    add_pdf_filter(system, app);
    // Our save callback also keeps papplMainloop from loading a state file of
    // its own after this callback, over the printers made here.
    if (!restore_printers(system, app)) {
        fprintf(stderr, "tavri-printer-app: the Wine prefix %s cannot be asked for its printers\n",
                app.config.prefix.c_str());
        papplSystemDelete(system);
        return nullptr;
    }
    schedule_rescans(system, app);
    return system;
}

AppState app;

} // namespace

// papplMainloop deletes the system as soon as it stops running, and a rescan
// may be adding a printer then. The library calls papplSystemDelete through
// its procedure linkage table, so this definition comes first: it ends the
// rescans, then deletes the system with the library's own function.
extern "C" void papplSystemDelete(pappl_system_t *system) {
    using Delete = void (*)(pappl_system_t *);
    static const auto library_delete = reinterpret_cast<Delete>(dlsym(RTLD_NEXT, __func__));
    stop_rescans(app);
    library_delete(system);
}

int main(int argc, char *argv[]) {
    app.config = config_from_environment();
    int status =
        papplMainloop(argc, argv, "0.1", nullptr, int(std::size(drivers)), drivers, nullptr,
                      wine_driver_callback, nullptr, nullptr, create_system, nullptr, &app);
    return status;
}
