// Where a printer's jobs go once its Windows driver has made them: a Wine
// printer that Wine imported from a CUPS queue prints on that queue, so the
// driver's output is handed to it, raw, as the application's owner; the
// owner may choose another queue, a network printer (socket://, ipp://,
// ipps://) or the output folder instead.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cups_queues.h"

// The CUPS queue a Wine printer's port names ("CUPS:NAME"); empty for any
// other port.
std::string queue_of_port(std::string_view port);

// Where a printer's jobs go, as the owner's `choice` for it says ("folder",
// "queue:NAME", a socket://, ipp:// or ipps:// URI, or "" for where its Wine
// printer's `port` leads; the folder for every printer when an output folder
// was chosen): "queue:NAME", the URI, or empty for the output folder.
std::string destination_for(std::string_view choice, std::string_view port, bool folder_chosen);

// Whether `choice` is one the owner may make: "", "folder", "queue:NAME"
// with a name CUPS allows, or a socket://, ipp:// or ipps:// URI naming a
// host.
bool valid_choice(std::string_view choice);

// A URI's parts, as CUPS separates them (HTTP_URI_CODING_ALL); false for
// one it cannot, or of 1024 bytes or more.
struct UriParts {
    char scheme[32]{}, user[256]{}, host[256]{}, resource[1024]{};
    int port = 0;
};
bool separate_uri(std::string_view uri, UriParts &parts);

// Whether a URI carries a user or password: never on a command line, where
// every user of the machine can read it.
bool has_credentials(std::string_view choice);

// A destination fit for logs, messages and web pages: without user and password.
std::string public_destination(std::string_view destination);

// The owner's choices as they are kept, one "WINE-PRINTER<TAB>CHOICE" a
// line; lines that are not so are left out.
std::map<std::string, std::string> parse_choices(std::string_view text);
std::string format_choices(const std::map<std::string, std::string> &choices);

// What the loop check knows of this machine: CUPS's queues and classes
// (when CUPS answered) and the port this application serves on.
struct OnwardCheck {
    std::vector<CupsQueue> queues;
    bool queues_known = false;
    int own_port = 0;
    // For a CUPS queue's jobs, the queue they come from: a destination that
    // reaches it again, or any queue that prints through Wine again (a
    // tavri: device), by itself or as a member of a class, leads back too.
    std::string from_queue;
    // Whether a queue that CUPS lacks is refused; a queue's own check asks
    // only about loops (a job finds out when root hands its output on).
    bool missing_refused = true;
};

// Why `destination` cannot take jobs for good: it leads back to a printer
// application of this machine (or, for a queue's jobs, to Wine again), by
// any spelling of its address and through a CUPS queue or class of this
// machine (ipp, ipps, http, https or lpd); or it names a queue CUPS lacks.
// Empty when it can, or when it cannot be told now.
std::string onward_refusal(const std::string &destination, const OnwardCheck &check);
