// Where a printer's jobs go once its Windows driver has made them: a Wine
// printer that Wine imported from a CUPS queue prints on that queue, so the
// driver's output is handed to it, raw, as the application's owner; any
// other goes into the output folder.
#pragma once

#include <string>
#include <string_view>

// The CUPS queue a Wine printer's port names ("CUPS:NAME"); empty for any
// other port.
std::string queue_of_port(std::string_view port);

// Why the queue cannot take jobs for good (it is unknown to CUPS, or leads
// back to a printer application of this machine); empty when it can, or
// when CUPS cannot be asked now.
std::string queue_refusal(const std::string &queue);

// Sends what `fd` holds to `queue` as one raw job called `title`; false,
// with `error`, when CUPS did not take all of it.
bool send_to_queue(int fd, const std::string &queue, const std::string &title, std::string &error);
