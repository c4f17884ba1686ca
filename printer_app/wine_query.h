// The query program's reports on the prefix, run under Wine.
#pragma once

#include <string>
#include <vector>

#include "app_config.h"
#include "query_report.h"

bool query_wine_printers(const AppConfig &config, std::vector<WinePrinter> &printers,
                         std::string &error);
bool query_driver_report(const AppConfig &config, const std::string &printer, DriverReport &report,
                         std::string &error);
