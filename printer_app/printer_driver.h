// The printer system's view of a Wine printer: one driver, "wine", whose
// data come from the printer's driver report; a device scheme "wine" whose
// URI names the Wine printer (wine://localhost/NAME, percent-encoded), since
// every byte goes through the Windows program and none through a device.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <pappl/pappl.h>

#include "app_config.h"
#include "driver_data.h"
#include "query_report.h"

constexpr const char *WINE_DRIVER_NAME = "wine";

// Shared by every callback of the application.
struct AppState {
    AppConfig config;
    std::mutex mutex; // guards reports and the rescan requests
    // By Wine printer name: the prefix's printers found at the last scan.
    std::map<std::string, DriverReport> reports;
    std::thread rescanner; // started by the first rescan
    std::condition_variable rescan_wanted;
    bool rescan_requested = false, stopping = false;
    int prefix_lock = -1; // held while the application runs
    // Kept by the scans alone, which never run at once: the Wine printers
    // served after the last one, and those whose printer the owner deleted.
    std::set<std::string> served_wine_names, withdrawn;
    // By Wine printer name, guarded by mutex: its port, and where the owner
    // chose its jobs go ("folder", "queue:NAME", a URI; none: where the port
    // leads).
    std::map<std::string, std::string> ports, destinations;
    std::set<int> with_destination_page; // printer ids; kept by the scans alone
};

// What a printer keeps as its driver extension; released with the printer.
struct PrinterSetup {
    AppState *app = nullptr;
    std::string wine_name;
    DriverChoices choices;
    // Where the output goes ("queue:NAME" or a URI); empty: the output
    // folder. Guarded by the application's mutex: the owner may change it.
    std::string destination;
};

// The setup of a printer of ours; null for any other.
PrinterSetup *setup_of_printer(pappl_printer_t *printer);

void register_wine_device_scheme();
std::string wine_device_uri(const std::string &wine_name);
// The Wine printer a device URI names; empty when it names none.
std::string wine_name_from_uri(const char *device_uri);

// The driver callback: `data` is the AppState.
bool wine_driver_callback(pappl_system_t *system, const char *driver_name, const char *device_uri,
                          const char *device_id, pappl_pr_driver_data_t *driver_data,
                          ipp_t **driver_attrs, void *data);

// Fills the driver data from the choices, whose strings it points to: they
// must live as long as the printer.
void fill_driver_data(const DriverChoices &choices, pappl_pr_driver_data_t *data);
