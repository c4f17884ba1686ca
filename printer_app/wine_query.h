// The query program's reports on the prefix, run under Wine.
#pragma once

#include <string>
#include <vector>

#include "app_config.h"
#include "query_report.h"

bool query_wine_printers(const AppConfig &config, std::vector<WinePrinter> &printers,
                         std::string &error);
// Links a CJK font into the prefix's interface fonts, so that the progress
// window's labels show in any locale; in the locale that jobs run in, as
// Wine resets the links when the code page changes.
bool link_window_font(const AppConfig &config, std::string &error);
bool query_driver_report(const AppConfig &config, const std::string &printer, DriverReport &report,
                         std::string &error);

// Keeps the prefix's Wine server, and with it Wine's own services, running
// between jobs: Wine stops them three seconds after the last program ends,
// and each job would wait for them to start again. The server is made to
// outlast a few rescans, whose queries keep it going while the application
// runs; after the application it ends by itself. A server that already runs
// is left as it is.
void keep_wine_warm(const AppConfig &config);
