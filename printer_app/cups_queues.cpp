#include "cups_queues.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Whether an address is this machine's: a loopback or unspecified one (an
// IPv4 one also when mapped into IPv6), or one of its interfaces' (which
// alone can be bound).
bool is_local_address(const sockaddr *address, socklen_t size) {
    sockaddr_storage own{};
    memcpy(&own, address, std::min<size_t>(size, sizeof own));
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(own);
    if (own.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        in_addr v4;
        memcpy(&v4, &v6.sin6_addr.s6_addr[12], sizeof v4);
        own = {};
        auto &mapped = reinterpret_cast<sockaddr_in &>(own);
        mapped.sin_family = AF_INET;
        mapped.sin_addr = v4;
        size = sizeof mapped;
    }
    if (own.ss_family == AF_INET) {
        uint32_t host = ntohl(reinterpret_cast<sockaddr_in &>(own).sin_addr.s_addr);
        if (host >> 24 == 127 || host == 0)
            return true;
    } else if (own.ss_family == AF_INET6) {
        if (IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr) || IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr))
            return true;
    } else {
        return false;
    }
    int probe = socket(own.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    reinterpret_cast<sockaddr_in &>(own).sin_port = 0; // the same place in both families
    bool bound = probe >= 0 && bind(probe, reinterpret_cast<sockaddr *>(&own), size) == 0;
    if (probe >= 0)
        close(probe);
    return bound;
}

// The host of a URI's authority, without brackets, user or port.
std::string uri_host(std::string_view rest) {
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (!rest.empty() && rest[0] == '[')
        return std::string(rest.substr(1, rest.find(']') - 1));
    return std::string(rest.substr(0, rest.find(':')));
}

} // namespace

bool is_this_machine(const std::string &host) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.empty() ? "localhost" : host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    bool local = false;
    for (addrinfo *a = found; a && !local; a = a->ai_next)
        local = is_local_address(a->ai_addr, a->ai_addrlen);
    freeaddrinfo(found);
    return local;
}

bool leads_to_this_machine(std::string_view uri) {
    for (std::string_view scheme : {"ipp://", "ipps://", "http://", "https://"}) {
        if (uri.size() < scheme.size() ||
            strncasecmp(uri.data(), scheme.data(), scheme.size()) != 0)
            continue;
        std::string_view rest = uri.substr(scheme.size());
        return rest.find("/ipp/print/") != std::string_view::npos &&
               is_this_machine(uri_host(rest));
    }
    return false;
}

const CupsQueue *find_queue(const std::vector<CupsQueue> &queues, std::string_view name) {
    for (const CupsQueue &q : queues)
        if (strcasecmp(q.name.c_str(), std::string(name).c_str()) == 0) // CUPS ignores case
            return &q;
    return nullptr;
}

const CupsQueue *member_leading_back(const std::vector<CupsQueue> &queues, const CupsQueue &queue) {
    if (queue.members.empty())
        return leads_to_this_machine(queue.device_uri) ? &queue : nullptr;
    for (const std::string &member : queue.members)
        if (const CupsQueue *q = find_queue(queues, member);
            q && leads_to_this_machine(q->device_uri))
            return q;
    return nullptr;
}

std::vector<WinePrinter> servable_printers(const std::vector<WinePrinter> &printers,
                                           const std::vector<CupsQueue> &queues) {
    std::vector<WinePrinter> kept;
    for (const WinePrinter &p : printers) {
        if (p.port.substr(0, 5) != "CUPS:") {
            kept.push_back(p);
            continue;
        }
        const CupsQueue *q = find_queue(queues, std::string_view(p.port).substr(5));
        if (q && !q->temporary && !member_leading_back(queues, *q))
            kept.push_back(p);
    }
    return kept;
}

namespace {

void read_queue_attribute(ipp_attribute_t *a, CupsQueue &queue) {
    std::string_view name = ippGetName(a);
    if (name == "printer-name")
        queue.name = ippGetString(a, 0, nullptr) ?: "";
    else if (name == "device-uri")
        queue.device_uri = ippGetString(a, 0, nullptr) ?: "";
    else if (name == "printer-is-temporary")
        queue.temporary = ippGetBoolean(a, 0);
    else if (name == "member-names")
        for (int i = 0; i < ippGetCount(a); ++i)
            queue.members.push_back(ippGetString(a, i, nullptr) ?: "");
}

// The printers or classes CUPS lists for `operation`.
bool ask_cups(ipp_op_t operation, std::vector<CupsQueue> &queues) {
    static const char *const wanted[] = {"printer-name", "device-uri", "printer-is-temporary",
                                         "member-names"};
    ipp_t *request = ippNewRequest(operation);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(wanted)), nullptr, wanted);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    bool answered = response && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    // A server without queues answers "not found".
    if (response && ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND)
        answered = true;
    CupsQueue queue;
    for (ipp_attribute_t *a = response ? ippFirstAttribute(response) : nullptr; answered;
         a = ippNextAttribute(response)) {
        if (!a || !ippGetName(a)) { // the end of one printer's group
            if (!queue.name.empty())
                queues.push_back(queue);
            queue = CupsQueue();
            if (!a)
                break;
            continue;
        }
        read_queue_attribute(a, queue);
    }
    ippDelete(response);
    return answered;
}

} // namespace

bool cups_queues(std::vector<CupsQueue> &queues) {
    return ask_cups(IPP_OP_CUPS_GET_PRINTERS, queues) && ask_cups(IPP_OP_CUPS_GET_CLASSES, queues);
}
