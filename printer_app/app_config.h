// What the printer application needs to know about its surroundings: the
// Wine prefix and programs, where delivered output goes, and its limits.
#pragma once

#include <cstdint>
#include <string>

#include "child_process.h"
#include "job_limits.h"
#include "peer.h"

struct AppConfig {
    std::string user;       // who runs the application
    std::string prefix;     // $WINEPREFIX, else ~/.wine
    std::string wine;       // $WINE, else Debian's 64-bit loader, else "wine"
    std::string wineserver; // $WINESERVER, else Debian's, else "wineserver"
    std::string exe;        // $PROXY_EXE, else the packaged program, else this tree's build
    std::string query_exe;  // tavri-printer-query.exe next to exe
    std::string output_dir; // -o output-directory=DIR, else $TAVRI_OUTPUT_DIR, else ~/tavri-printed
    // Chosen by either: then every printer's output goes into the folder,
    // not to the CUPS queue its Wine printer stands for.
    bool output_dir_chosen = false;
    // The printers and their owner's defaults, kept across restarts: -o
    // state-file=FILE, else one file per prefix in the user's state folder
    // ($XDG_STATE_HOME, else ~/.local/state), in tavri-printer-app/.
    std::string state_file;
    // How often the prefix is asked for its printers: -o rescan-interval=S,
    // else $TAVRI_RESCAN_SECONDS.
    int rescan_seconds = 60;
    JobLimits limits; // -o max-seconds, max-output, max-page, max-pages, stall-seconds
    int query_timeout_ms = 120000;
    PeerTimeouts timeouts;
};

AppConfig config_from_environment();

// The environment variable `name`, or `fallback` where it is unset or empty.
std::string env_or(const char *name, const std::string &fallback);

// Makes the folder that holds `file`, and any missing above it, private to
// the user; false when it cannot be made.
bool make_parent_folders(const std::string &file);

// The environment that Wine programs of the prefix run with: the prefix,
// and unless the user chose otherwise no debug output and no offer to
// install Mono or Gecko.
EnvironmentChanges wine_environment(const AppConfig &config);
