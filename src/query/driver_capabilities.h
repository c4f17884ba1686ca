// What a printer's driver reports through DeviceCapabilitiesW: its flags,
// resolutions, bins and papers, and for each paper the metrics of an
// information context made for it from the driver's default device mode.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "query/printer_query.h"

struct DriverDevice {
    const std::wstring &name;
    std::wstring port;
};

// Fills everything of *caps but the names and the defaults; `device_mode` is
// the driver's default record, DEVMODEW and the driver's own part.
bool query_driver_capabilities(const DriverDevice &device, const std::vector<BYTE> &device_mode,
                               PrinterCapabilities *caps, QueryFailure *failure);
