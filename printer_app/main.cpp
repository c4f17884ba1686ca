// tavri-printer-app: every Wine printer of one Wine prefix served as a
// driverless IPP printer (ipp://localhost:PORT/ipp/print/NAME), each job
// printed through the Windows program under Wine. Its options and
// environment are what print_usage says.
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <sys/stat.h>

#include "app_start.h"
#include "command_socket.h"
#include "destination_page.h"
#include "dnssd_scope.h"
#include "saved_jobs.h"
#include "owner_only.h"
#include "pdf_job.h"
#include "printer_driver.h"
#include "onward.h"
#include "printer_sync.h"
#include "raster_filter.h"

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
// web interface would crash the server without it. It says what is served
// and where jobs go; its script points the links to this server back at the
// scheme it is served with: PAPPL 1.3 links the jobs page's "Cancel All
// Jobs" to https:// even without TLS.
std::string footer_for(const AppConfig &config) {
    auto html = [](const std::string &text) {
        std::string out;
        for (char c : text)
            out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        return out;
    };
    return "Tavri Printer App: the Wine printers of " + html(config.prefix) + ", output in " +
           html(config.output_dir) +
           "<script>for (const a of document.links) if (a.host == location.host) "
           "a.protocol = location.protocol;</script>";
}

// Says why the application cannot serve, if it cannot.
bool refused(const std::string &why) {
    if (!why.empty())
        fprintf(stderr, "tavri-printer-app: %s\n", why.c_str());
    return !why.empty();
}

// Whether anything keeps the application from serving, said on standard
// error: the prefix, the output folder, another application, the spool
// folder, the command socket's folder or the port.
bool cannot_serve(AppState &app, const std::string &spool, int port) {
    if (refused(check_prefix(app.config.prefix)) ||
        refused(prepare_output_folder(app.config.output_dir)) ||
        refused(hold_prefix(app.config.prefix, app.prefix_lock)) ||
        refused(prepare_command_socket_folder()))
        return true;
    make_parent_folders(spool); // a folder that cannot be made is named below
    return refused(prepare_spool_folder(spool)) || (port > 0 && refused(check_port_free(port)));
}

// A printer's name, and where its jobs go on to, if not into the folder.
void collect_name(pappl_printer_t *printer, void *names) {
    PrinterSetup *setup = setup_of_printer(printer);
    std::string to = setup ? public_destination(setup->destination) : "";
    *static_cast<std::string *>(names) +=
        std::string(" ") + papplPrinterGetName(printer) + (to.empty() ? "" : " (on to " + to + ")");
}

// Names what is served, and where its output goes, once it is.
void announce(pappl_system_t *system, const AppConfig &config) {
    std::string names;
    papplSystemIteratePrinters(system, collect_name, &names);
    std::string text = "serving the Wine prefix " + config.prefix + "; printers:" +
                       (names.empty() ? " none yet (Wine printers added later are served "
                                        "within a rescan)"
                                      : names) +
                       "; output in " + config.output_dir;
    fprintf(stderr, "tavri-printer-app: %s\n", text.c_str());
    papplLog(system, names.empty() ? PAPPL_LOGLEVEL_WARN : PAPPL_LOGLEVEL_INFO, "%s", text.c_str());
}

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
    app.config.output_dir_chosen |=
        cupsGetOption("output-directory", num_options, options) != nullptr;
    app.config.state_file =
        option("state-file", num_options, options, app.config.state_file.c_str());
    app.config.rescan_seconds = atoi(option("rescan-interval", num_options, options,
                                            std::to_string(app.config.rescan_seconds).c_str()));
    if (refused(read_job_limits(num_options, options, app.config.limits)))
        return nullptr;
    int port = atoi(option("server-port", num_options, options, "0"));
    const char *hostname = option("listen-hostname", num_options, options, "localhost");
    bool local = strcmp(hostname, "localhost") == 0;
    // Beside the state that names its jobs' files, not PAPPL's /tmp/papplPID.d.
    const std::string &state = app.config.state_file;
    const std::string spool = option("spool-directory", num_options, options,
                                     (state.substr(0, state.rfind(".state")) + ".spool").c_str());
    if (cannot_serve(app, spool, port))
        return nullptr;
    pappl_system_t *system = papplSystemCreate(
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
            (local ? PAPPL_SOPTIONS_NO_TLS : PAPPL_SOPTIONS_NONE),
        "Tavri Printer App", port, "_print,_universal", spool.c_str(),
        option("log-file", num_options, options, "-"), PAPPL_LOGLEVEL_FATAL,
        local ? nullptr : option("auth-service", num_options, options, "login"), !local);
    if (!system)
        return nullptr;
    const char *tmp = getenv("TMPDIR");
    if (int swept = sweep_leftovers("/dev/shm", app.config.prefix + "/drive_c", tmp ? tmp : "/tmp"))
        papplLog(system, PAPPL_LOGLEVEL_INFO, "Removed %d page folders and outputs of jobs cut off",
                 swept);
    // PAPPL 1.3 rotates a log past 1 MiB under the log's own lock, and then
    // waits for that lock for good: so the log grows instead, and nothing is
    // logged before rotation is off (papplSystemCreate logs nothing fatal).
    papplSystemSetMaxLogSize(system, 0);
    papplSystemSetLogLevel(system, log_level(option("log-level", num_options, options, "info")));
    if (std::string exposed = prefix_exposure(app.config.prefix); !exposed.empty()) {
        fprintf(stderr, "tavri-printer-app: warning: %s\n", exposed.c_str());
        papplLog(system, PAPPL_LOGLEVEL_WARN, "%s", exposed.c_str());
    }
    listen_on(system, hostname);
    papplSystemSetFooterHTML(system, footer_for(app.config).c_str());
    papplSystemSetPrinterDrivers(system, int(std::size(drivers)), drivers, nullptr, nullptr,
                                 wine_driver_callback, &app);
    register_wine_device_scheme();
    add_pdf_filter(system, app);
    add_raster_filters(system);
    // Our save callback also keeps papplMainloop from loading a state file of
    // its own after this callback, over the printers made here.
    if (refused(read_destination_choices(app, num_options, options))) {
        papplSystemDelete(system);
        return nullptr;
    }
    if (!restore_printers(system, app)) {
        fprintf(stderr, "tavri-printer-app: the Wine prefix %s cannot be asked for its printers\n",
                app.config.prefix.c_str());
        papplSystemDelete(system);
        return nullptr;
    }
    announce(system, app.config);
    schedule_rescans(system, app);
    return system;
}

AppState app;

// --help, and the manual page made from it.
void print_usage(void *) {
    puts(R"(Usage: tavri-printer-app server [-o NAME=VALUE ...]
Serves every Wine printer of a Wine prefix as a driverless IPP Everywhere
printer, ipp://localhost:PORT/ipp/print/NAME, as the prefix's owner; each
job prints through the printer's Windows driver under Wine. PAPPL's other
subcommands (add, cancel, jobs, printers, shutdown, status, ...) talk to the
running server of the same prefix, through a socket of the user's alone.

Options:
  -o server-port=PORT        the port served (default: the first free one from 8000)
  -o listen-hostname=NAME    serve NAME beyond this machine: administration
                             then over TLS, after a password (default: localhost)
  -o auth-service=SERVICE    the PAM service of that password (default: login)
  -o output-directory=DIR    where each job's driver output is delivered
                             as job-ID-TITLE.EXT: given (or TAVRI_OUTPUT_DIR),
                             for every printer; else for those whose Wine
                             printer is no CUPS queue's (default: ~/tavri-printed)
  -o destination.WINE-PRINTER=folder|queue:NAME|URI
                             where that Wine printer's jobs go, as its web
                             page's Destination sets it: the output folder,
                             a CUPS queue (USB and LPD printers through one),
                             or socket://HOST[:PORT], ipp:// or ipps:// (with
                             a password: on the web page only) (default: the
                             CUPS queue it stands for, else the output folder)
  -o state-file=FILE         the printers, their defaults and jobs, kept across
                             restarts (default: one file per prefix under
                             $XDG_STATE_HOME/tavri-printer-app/)
  -o spool-directory=DIR     the documents of queued jobs, the owner's alone
                             (default: beside the state file, NAME.spool)
  -o rescan-interval=SECONDS how often the prefix is asked for printers added
                             or removed (default: 60; 0: never)
  -o log-file=FILE           the log: a file, "-" for standard error (default),
                             or "syslog"; it is never rotated
  -o log-level=LEVEL         debug, info (default), warn, error or fatal
  -o max-seconds=SECONDS     a job that prints for longer is aborted, even while
                             the driver works on a page (default: 3600)
  -o max-output=MIB          a job whose driver's output grows larger is aborted,
                             checked while it prints (default: 4096)
  -o max-page=MIB            the largest page image a job may make (default: 1024,
                             A3 at 1200 dpi in colour)
  -o max-pages=PAGES         the most pages a job may print, copies included; a
                             job of more is refused before it prints (default: 10000)
  -o stall-seconds=SECONDS   a raster document whose sender sends nothing for this
                             long is given up, its job aborted (default: 30)
  --help                     this text
  --version                  the version

Environment:
  WINEPREFIX        the Wine prefix served (default: ~/.wine); it must exist
  WINE, WINESERVER  Wine's loader and server (default: Debian's wine64)
  PROXY_EXE         the Windows program (default: the installed one)
  TAVRI_OUTPUT_DIR  the output folder, unless -o output-directory says
  TAVRI_RESCAN_SECONDS  the rescan interval, unless -o rescan-interval says
  XDG_STATE_HOME    where the state file is kept (default: ~/.local/state)

A PWG or Apple raster document is received whole into the spool folder (at
most 4 GiB; a cancel ends it at once) before its job prints, and the prefix
is taken only then; its pages then print one at a time, one page image of at
most max-page MiB in /dev/shm. A job that passes a bound is aborted, its
state saying which, and its page images, document and driver output removed.

One application serves a prefix, and a port: a second one is refused. A job
that a CUPS queue sends carries that queue's options (its paper, quality
and colour); the defaults set in the web interface apply to jobs that name
none, as IPP clients and DNS-SD queues send them.)");
}

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
    umask(077); // every file of a job, and of the programs it starts, the owner's alone
    app.config = config_from_environment();
    set_command_socket_prefix(app.config.prefix);
    int status =
        papplMainloop(argc, argv, "0.1", nullptr, int(std::size(drivers)), drivers, nullptr,
                      wine_driver_callback, nullptr, nullptr, create_system, print_usage, &app);
    return status;
}
