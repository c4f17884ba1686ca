#include "printer_sync.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "destination_page.h"
#include "printer_names.h"
#include "saved_jobs.h"
#include "cups_queues.h"
#include "wine_query.h"

namespace {

constexpr const char *DEVICE_ID = "MFG:Wine;";

std::vector<std::string> names_of(const std::vector<WinePrinter> &printers) {
    std::vector<std::string> names;
    for (const WinePrinter &p : printers)
        names.push_back(p.name);
    return names;
}

bool is_wine_default(const std::vector<WinePrinter> &printers, const std::string &wine_name) {
    for (const WinePrinter &p : printers)
        if (p.name == wine_name)
            return p.is_default;
    return false;
}

void collect_printer(pappl_printer_t *printer, void *data) {
    static_cast<std::vector<ServedPrinter> *>(data)->push_back(
        {papplPrinterGetID(printer), papplPrinterGetName(printer),
         wine_name_from_uri(papplPrinterGetDeviceURI(printer)),
         papplPrinterGetNumberOfActiveJobs(printer) > 0});
}

void advertise_as_ours(pappl_printer_t *printer, void *data) {
    const std::string &owner = static_cast<AppState *>(data)->config.user;
    std::string wanted = dns_sd_name_for(papplPrinterGetName(printer), owner,
                                         static_cast<AppState *>(data)->config.prefix);
    char current[256] = "";
    if (!papplPrinterGetDNSSDName(printer, current, sizeof current) || wanted != current)
        papplPrinterSetDNSSDName(printer, wanted.c_str());
}

std::string withdrawn_file(const AppConfig &config) {
    return config.state_file + ".withdrawn";
}

// The printers the owner deleted, one Wine printer's name a line.
std::set<std::string> read_withdrawn(const AppConfig &config) {
    std::ifstream in(withdrawn_file(config));
    std::set<std::string> names;
    for (std::string line; std::getline(in, line);)
        names.insert(line);
    return names;
}

// Notes the printers the owner deleted since the last scan, so that a scan
// does not serve them again, and keeps the list across restarts.
void note_withdrawn(pappl_system_t *system, const std::vector<WinePrinter> &printers,
                    const std::vector<ServedPrinter> &served, AppState &app) {
    std::set<std::string> withdrawn =
        withdrawn_printers(names_of(printers), app.served_wine_names, served, app.withdrawn);
    if (withdrawn == app.withdrawn)
        return;
    for (const std::string &name : withdrawn)
        if (!app.withdrawn.count(name))
            papplLog(system, PAPPL_LOGLEVEL_INFO,
                     "Wine printer %s withdrawn: its printer was deleted; it is served again "
                     "once it is added to the prefix again",
                     name.c_str());
    app.withdrawn = withdrawn;
    std::ofstream out(withdrawn_file(app.config), std::ios::trunc);
    for (const std::string &name : withdrawn)
        out << name << '\n';
}

void sync_printers(pappl_system_t *system, const std::vector<WinePrinter> &printers,
                   AppState &app) {
    std::vector<ServedPrinter> served;
    papplSystemIteratePrinters(system, collect_printer, &served);
    note_withdrawn(system, printers, served, app);
    PrinterChanges changes = plan_printer_changes(names_of(printers), served, app.withdrawn);
    for (int id : changes.remove)
        if (pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr)) {
            papplLog(system, PAPPL_LOGLEVEL_INFO, "Printer %s removed: its Wine printer is gone",
                     papplPrinterGetName(printer));
            papplPrinterDelete(printer);
        }
    // The owner's default printer, restored, stays; else Wine's default is taken.
    int kept_default = papplSystemGetDefaultPrinterID(system);
    bool has_default = std::any_of(served.begin(), served.end(), [&](const ServedPrinter &p) {
        return p.id == kept_default &&
               !std::count(changes.remove.begin(), changes.remove.end(), p.id);
    });
    for (const auto &[wine_name, name] : changes.add) {
        pappl_printer_t *printer =
            papplPrinterCreate(system, 0, name.c_str(), WINE_DRIVER_NAME, DEVICE_ID,
                               wine_device_uri(wine_name).c_str());
        if (!printer)
            continue;
        papplLog(system, PAPPL_LOGLEVEL_INFO, "Wine printer %s served as %s", wine_name.c_str(),
                 name.c_str());
        if (!has_default && is_wine_default(printers, wine_name))
            papplSystemSetDefaultPrinterID(system, papplPrinterGetID(printer));
    }
    papplSystemIteratePrinters(system, advertise_as_ours, &app);
    served.clear();
    papplSystemIteratePrinters(system, collect_printer, &served);
    app.served_wine_names.clear();
    for (const ServedPrinter &p : served) {
        app.served_wine_names.insert(p.wine_name);
        // Outside the iteration: a resource is added under the system's lock.
        if (pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, p.id, nullptr))
            add_destination_page(printer, app);
    }
}

bool save_state(pappl_system_t *system, void *data) {
    return papplSystemSaveState(system, static_cast<AppState *>(data)->config.state_file.c_str());
}

// The prefix's printers with their reports; what could not be asked, logged.
bool scan_logged(pappl_system_t *system, AppState &app, std::vector<WinePrinter> &printers) {
    std::vector<std::string> errors;
    bool scanned = scan_wine_printers(app, printers, errors);
    for (const std::string &error : errors)
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    return scanned;
}

// On the rescan thread, while the system runs: no request, and no shutdown,
// waits for the Wine programs it starts.
void rescan(pappl_system_t *system, AppState &app) {
    std::vector<WinePrinter> printers;
    if (scan_logged(system, app, printers))
        sync_printers(system, printers, app);
}

void rescan_loop(pappl_system_t *system, AppState *app) {
    std::unique_lock<std::mutex> hold(app->mutex);
    for (;;) {
        app->rescan_wanted.wait(hold, [&] { return app->rescan_requested || app->stopping; });
        if (app->stopping)
            return;
        app->rescan_requested = false;
        hold.unlock();
        rescan(system, *app);
        hold.lock();
    }
}

// A timer of the printer system, run under its lock: it only wakes the scan.
bool request_rescan(pappl_system_t *system, void *data) {
    auto &app = *static_cast<AppState *>(data);
    std::lock_guard<std::mutex> hold(app.mutex);
    if (!app.rescanner.joinable())
        app.rescanner = std::thread(rescan_loop, system, &app);
    app.rescan_requested = true;
    app.rescan_wanted.notify_one();
    return true;
}

} // namespace

bool scan_wine_printers(AppState &app, std::vector<WinePrinter> &printers,
                        std::vector<std::string> &errors) {
    std::vector<WinePrinter> found;
    std::string error;
    keep_wine_warm(app.config);
    if (!query_wine_printers(app.config, found, error)) {
        errors.push_back(error);
        return false;
    }
    std::vector<CupsQueue> queues;
    if (cups_queues(queues))
        found = servable_printers(found, queues);
    std::map<std::string, DriverReport> reports;
    for (const WinePrinter &p : found) {
        {
            std::lock_guard<std::mutex> hold(app.mutex);
            auto known = app.reports.find(p.name);
            if (known != app.reports.end())
                reports[p.name] = known->second;
        }
        if (!reports.count(p.name) &&
            !query_driver_report(app.config, p.name, reports[p.name], error)) {
            reports.erase(p.name);
            errors.push_back(error);
            continue;
        }
        printers.push_back(p);
    }
    std::lock_guard<std::mutex> hold(app.mutex);
    app.reports = std::move(reports);
    for (const WinePrinter &p : printers)
        app.ports[p.name] = p.port;
    return true;
}

// The lost jobs say why they ended; a client that asks for them learns the
// job was not printed whole.
void mark_lost(pappl_system_t *system, const std::vector<int> &lost) {
    struct Marking {
        const std::vector<int> &lost;
        pappl_system_t *system;
    } marking{lost, system};
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *data) {
            auto &m = *static_cast<Marking *>(data);
            for (int id : m.lost)
                if (pappl_job_t *job = papplPrinterFindJob(printer, id)) {
                    papplJobSetMessage(job, "The application ended while the job printed; it "
                                            "was not printed whole.");
                    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
                    papplLog(m.system, PAPPL_LOGLEVEL_WARN,
                             "Job %d was under way when the application ended: aborted", id);
                }
        },
        &marking);
}

// The saved state, with the jobs a killed application left unfinished
// marked aborted (the state file rewritten first, when it needs repair).
void load_state(pappl_system_t *system, const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<int> lost;
    const std::string repaired = repair_saved_jobs(text.str(), lost);
    if (in && repaired != text.str()) {
        std::string temporary = file + ".new";
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << repaired;
        out.close();
        if (!out || rename(temporary.c_str(), file.c_str()) != 0) {
            unlink(temporary.c_str());
            lost.clear();
        }
    }
    papplSystemLoadState(system, file.c_str());
    mark_lost(system, lost);
}

bool restore_printers(pappl_system_t *system, AppState &app) {
    std::vector<WinePrinter> printers;
    std::string error;
    keep_wine_warm(app.config); // before the first Wine program starts a server of its own
    if (!link_window_font(app.config, error))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "The window's font is not linked, %s",
                 error.c_str());
    if (!scan_logged(system, app, printers))
        return false;
    if (!make_parent_folders(app.config.state_file))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No folder for the state file %s",
                 app.config.state_file.c_str());
    load_state(system, app.config.state_file);
    app.withdrawn = read_withdrawn(app.config);
    papplSystemSetSaveCallback(system, save_state, &app);
    sync_printers(system, printers, app);
    return true;
}

void schedule_rescans(pappl_system_t *system, AppState &app) {
    if (app.config.rescan_seconds > 0)
        papplSystemAddTimerCallback(system, time(nullptr) + app.config.rescan_seconds,
                                    app.config.rescan_seconds, request_rescan, &app);
}

void stop_rescans(AppState &app) {
    {
        std::lock_guard<std::mutex> hold(app.mutex);
        app.stopping = true;
        app.rescan_wanted.notify_one();
    }
    if (app.rescanner.joinable())
        app.rescanner.join();
}
