// A printer's capabilities for scripts: the driver's report, with the PWG
// names and choices the printer application would offer, as JSON.
#pragma once

#include <string>
#include <string_view>

#include "driver_data.h"

// `text` as a JSON string, quotes included.
std::string json_string(std::string_view text);

// The report: printer, driver, colour, duplex, collate, copies, papers with
// their printable areas, resolutions, sources and the defaults among them.
std::string capabilities_json(const DriverReport &report, const DriverChoices &choices);
