// Where a printer's jobs go once its Windows driver has made them: a Wine
// printer that Wine imported from a CUPS queue prints on that queue, so the
// driver's output is handed to it, raw, as the application's owner; any
// other goes into the output folder.
#pragma once

#include <map>
#include <string>
#include <string_view>

// The CUPS queue a Wine printer's port names ("CUPS:NAME"); empty for any
// other port.
std::string queue_of_port(std::string_view port);

// The queue a printer's jobs go on to, as the owner's `choice` for it says
// ("folder", "queue:NAME", or "" for where its Wine printer's `port` leads;
// the folder for every printer when an output folder was chosen); empty:
// the output folder.
std::string queue_for(std::string_view choice, std::string_view port, bool folder_chosen);

// Whether `choice` is one the owner may make: "", "folder" or "queue:NAME"
// with a name CUPS allows.
bool valid_choice(std::string_view choice);

// The owner's choices as they are kept, one "WINE-PRINTER<TAB>CHOICE" a
// line; lines that are not so are left out.
std::map<std::string, std::string> parse_choices(std::string_view text);
std::string format_choices(const std::map<std::string, std::string> &choices);

// Why the queue cannot take jobs for good (it is unknown to CUPS, or leads
// back to a printer application of this machine); empty when it can, or
// when CUPS cannot be asked now.
std::string queue_refusal(const std::string &queue);

// Sends what `fd` holds to `queue` as one raw job called `title`; false,
// with `error`, when CUPS did not take all of it.
bool send_to_queue(int fd, const std::string &queue, const std::string &title, std::string &error);
