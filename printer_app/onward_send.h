// The driver's output handed on, as the application's owner: to a CUPS
// queue as a raw job, to a socket:// printer as a stream of bytes, to an
// ipp:// or ipps:// printer as a Print-Job. Each on a connection of its own,
// so that one failing half-way is closed, and with it the document the
// destination never gets whole.
#pragma once

#include <string>

struct OnwardResult {
    bool sent = false;
    bool refused = false; // the destination refused the document: trying again cannot help
    std::string error;
};

// Sends what `fd` holds to `destination` ("queue:NAME" or a URI) as a job
// called `title`. A message never shows the URI's user or password.
OnwardResult send_onward(int fd, const std::string &destination, const std::string &title);
