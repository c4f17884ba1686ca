#include "onward.h"

#include <algorithm>
#include <cstring>

#include <cups/cups.h>
#include <strings.h>

namespace {

bool starts_with_nocase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && strncasecmp(text.data(), start.data(), start.size()) == 0;
}

bool network_uri(std::string_view choice) {
    return starts_with_nocase(choice, "socket://") || starts_with_nocase(choice, "ipp://") ||
           starts_with_nocase(choice, "ipps://");
}

bool plain_text(std::string_view text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 127; });
}

// For a queue's jobs: the queue `name` is the one they come from.
std::string back_to_itself(const OnwardCheck &check, const std::string &name) {
    if (check.from_queue.empty() || strcasecmp(name.c_str(), check.from_queue.c_str()) != 0)
        return "";
    return "the CUPS queue " + name + " leads back to the queue " + check.from_queue;
}

// For a queue's jobs: the queue, or a member of a class, that is the queue
// the jobs come from or prints through Wine again.
std::string wine_again(const OnwardCheck &check, const CupsQueue &queue) {
    if (check.from_queue.empty())
        return "";
    std::vector<std::string> names = queue.members;
    names.push_back(queue.name);
    for (const std::string &name : names) {
        const CupsQueue *member = find_queue(check.queues, name);
        if (std::string back = back_to_itself(check, name); !back.empty())
            return back;
        if (member && starts_with_nocase(member->device_uri, "tavri:"))
            return "the CUPS queue " + name + " prints through Wine again";
    }
    return "";
}

// A queue of this machine's CUPS, followed to the members of a class.
std::string queue_refusal(const OnwardCheck &check, const std::string &name) {
    if (std::string back = back_to_itself(check, name); !back.empty() || !check.queues_known)
        return back; // a queue not made yet, too
    const CupsQueue *queue = find_queue(check.queues, name);
    if (!queue)
        return check.missing_refused ? "CUPS has no queue " + name : "";
    if (std::string again = wine_again(check, *queue); !again.empty())
        return again;
    const CupsQueue *back = member_leading_back(check.queues, *queue);
    if (!back)
        return "";
    return "the CUPS queue " + name + " leads back to a printer application" +
           (back == queue ? "" : " through its member " + back->name);
}

// The queue or class of this machine's CUPS that a URI's path names: an
// IPP one's /printers/ or /classes/, an LPD one's queue.
std::string cups_queue_of(const UriParts &parts) {
    std::string_view resource = parts.resource;
    if (strcasecmp(parts.scheme, "lpd") == 0) {
        resource.remove_prefix(std::min<size_t>(1, resource.size()));
        return std::string(resource.substr(0, resource.find_first_of("/?")));
    }
    for (std::string_view folder : {"/printers/", "/classes/"})
        if (resource.substr(0, folder.size()) == folder) {
            std::string_view name = resource.substr(folder.size());
            return std::string(name.substr(0, name.find_first_of("/?")));
        }
    return "";
}

std::string uri_refusal(const std::string &uri, const OnwardCheck &check) {
    UriParts parts;
    if (!separate_uri(uri, parts) || !is_this_machine(parts.host))
        return "";
    std::string shown = public_destination(uri);
    if (strcasecmp(parts.scheme, "socket") == 0)
        return check.own_port > 0 && parts.port == check.own_port
                   ? shown + " leads back to this printer application"
                   : "";
    if (leads_to_this_machine(uri))
        return shown + " leads back to a printer application";
    std::string queue = cups_queue_of(parts);
    return queue.empty() ? "" : queue_refusal(check, queue);
}

} // namespace

bool separate_uri(std::string_view uri, UriParts &parts) {
    if (uri.size() >= 1024)
        return false;
    std::string text(uri);
    return httpSeparateURI(HTTP_URI_CODING_ALL, text.c_str(), parts.scheme, sizeof parts.scheme,
                           parts.user, sizeof parts.user, parts.host, sizeof parts.host,
                           &parts.port, parts.resource,
                           sizeof parts.resource) >= HTTP_URI_STATUS_OK;
}

std::string queue_of_port(std::string_view port) {
    return port.substr(0, 5) == "CUPS:" ? std::string(port.substr(5)) : "";
}

std::string destination_for(std::string_view choice, std::string_view port, bool folder_chosen) {
    if (choice.substr(0, 6) == "queue:" || network_uri(choice))
        return std::string(choice);
    std::string own = queue_of_port(port);
    return choice.empty() && !folder_chosen && !own.empty() ? "queue:" + own : "";
}

bool valid_choice(std::string_view choice) {
    if (choice.empty() || choice == "folder")
        return true;
    UriParts parts;
    if (network_uri(choice))
        return plain_text(choice) && separate_uri(choice, parts) && parts.host[0] != '\0';
    std::string_view name = choice.substr(choice.substr(0, 6) == "queue:" ? 6 : choice.size());
    return !name.empty() && name.size() < 128 && plain_text(name) &&
           name.find_first_of("/#@\\") == std::string_view::npos;
}

bool has_credentials(std::string_view choice) {
    UriParts parts;
    return network_uri(choice) && separate_uri(choice, parts) && parts.user[0] != '\0';
}

std::string public_destination(std::string_view destination) {
    size_t authority = destination.find("://");
    if (authority == std::string_view::npos)
        return std::string(destination);
    authority += 3;
    size_t end = destination.find_first_of("/?#", authority);
    size_t at = destination.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at < authority)
        return std::string(destination);
    return std::string(destination.substr(0, authority)) + std::string(destination.substr(at + 1));
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

std::string onward_refusal(const std::string &destination, const OnwardCheck &check) {
    if (destination.substr(0, 6) == "queue:")
        return queue_refusal(check, destination.substr(6));
    return uri_refusal(destination, check);
}
