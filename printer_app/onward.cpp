#include "onward.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <cups/cups.h>
#include <unistd.h>

#include "cups_queues.h"

std::string queue_of_port(std::string_view port) {
    return port.substr(0, 5) == "CUPS:" ? std::string(port.substr(5)) : "";
}

std::string queue_for(std::string_view choice, std::string_view port, bool folder_chosen) {
    if (choice.substr(0, 6) == "queue:")
        return std::string(choice.substr(6));
    return choice.empty() && !folder_chosen ? queue_of_port(port) : "";
}

bool valid_choice(std::string_view choice) {
    if (choice.empty() || choice == "folder")
        return true;
    std::string_view name = choice.substr(choice.substr(0, 6) == "queue:" ? 6 : choice.size());
    return !name.empty() && name.size() < 128 && std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '#' || c == '@' ||
               c == '\\' || c == 127;
    });
}

std::map<std::string, std::string> parse_choices(std::string_view text) {
    std::map<std::string, std::string> choices;
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        size_t tab = line.find('\t');
        if (tab != std::string_view::npos && tab > 0 && valid_choice(line.substr(tab + 1)))
            choices[std::string(line.substr(0, tab))] = line.substr(tab + 1);
    }
    return choices;
}

std::string format_choices(const std::map<std::string, std::string> &choices) {
    std::string text;
    for (const auto &[printer, choice] : choices)
        if (!choice.empty() && printer.find_first_of("\t\n") == std::string::npos)
            text += printer + "\t" + choice + "\n";
    return text;
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
