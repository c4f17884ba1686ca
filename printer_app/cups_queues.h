// Which of the prefix's Wine printers the application may serve. Wine
// imports every destination that CUPS lists, and CUPS lists the printers
// that DNS-SD announces, this application's own among them: served again,
// announced again, without end. Nor is a queue served that leads to a
// printer application on this machine: its jobs would come back to it.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "query_report.h"

// A queue or class of the CUPS server, as it answers for itself.
struct CupsQueue {
    std::string name, device_uri;
    bool temporary = false;           // made by CUPS for a printer that DNS-SD found
    std::vector<std::string> members; // a class's queues
};

// Whether `host` names this machine, by any spelling: a loopback or
// unspecified address (IPv4 ones also mapped into IPv6), its own name, the
// address of one of its interfaces.
bool is_this_machine(const std::string &host);

// Whether a device URI leads to an IPP printer of a printer application on
// this machine: ipp(s):// or http(s):// to this machine, /ipp/print/...
bool leads_to_this_machine(std::string_view device_uri);

// The queue or class called `name` (CUPS ignores case); null when none is.
const CupsQueue *find_queue(const std::vector<CupsQueue> &queues, std::string_view name);

// The queue itself, or the member of a class, that leads to a printer
// application of this machine; null when none does.
const CupsQueue *member_leading_back(const std::vector<CupsQueue> &queues, const CupsQueue &queue);

// The printers that may be served: those that are no CUPS destination
// (their port does not say "CUPS:"), and those whose queue the server has,
// lasting, and not leading back to this machine (nor any member of a class).
std::vector<WinePrinter> servable_printers(const std::vector<WinePrinter> &printers,
                                           const std::vector<CupsQueue> &queues);

// The CUPS server's queues, then its classes; false when it cannot be
// asked (then every printer is served, as before).
bool cups_queues(std::vector<CupsQueue> &queues);
