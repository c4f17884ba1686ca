#include "onward.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <cups/cups.h>
#include <unistd.h>

#include "cups_queues.h"

std::string queue_of_port(std::string_view port) {
    return port.substr(0, 5) == "CUPS:" ? std::string(port.substr(5)) : "";
}

std::string queue_refusal(const std::string &queue) {
    std::vector<CupsQueue> queues;
    if (!cups_queues(queues))
        return "";
    for (const CupsQueue &q : queues)
        if (q.name == queue)
            return leads_to_this_machine(q.device_uri)
                       ? "the CUPS queue " + queue + " leads back to a printer application"
                       : "";
    return "CUPS has no queue " + queue;
}

// On a connection of its own: one that fails half-way is closed, and with
// it the document CUPS never gets whole.
bool send_to_queue(int fd, const std::string &queue, const std::string &title, std::string &error) {
    http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    cups_option_t *raw = nullptr;
    int count = cupsAddOption("raw", "true", 0, &raw);
    int job = http ? cupsCreateJob(http, queue.c_str(), title.c_str(), count, raw) : 0;
    cupsFreeOptions(count, raw);
    bool sent = job > 0 && cupsStartDocument(http, queue.c_str(), job, title.c_str(),
                                             CUPS_FORMAT_RAW, 1) == HTTP_STATUS_CONTINUE;
    char buffer[1 << 16];
    for (ssize_t got; sent && (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        sent = got > 0 && cupsWriteRequestData(http, buffer, size_t(got)) == HTTP_STATUS_CONTINUE;
    }
    sent = sent && cupsFinishDocument(http, queue.c_str()) == IPP_STATUS_OK;
    if (!sent)
        error = "the CUPS queue " + queue + " did not take the job: " + cupsLastErrorString();
    httpClose(http);
    if (!sent && job > 0)
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), job, 0);
    return sent;
}
