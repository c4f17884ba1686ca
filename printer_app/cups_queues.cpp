#include "cups_queues.h"

#include <cups/cups.h>

bool leads_to_this_machine(std::string_view uri) {
    for (std::string_view scheme : {"ipp://", "ipps://"}) {
        if (uri.substr(0, scheme.size()) != scheme)
            continue;
        std::string_view rest = uri.substr(scheme.size());
        std::string_view host = rest.substr(
            0, !rest.empty() && rest[0] == '[' ? rest.find(']') + 1 : rest.find_first_of(":/"));
        bool local = host == "localhost" || host == "[::1]" || host.substr(0, 4) == "127.";
        return local && rest.find("/ipp/print/") != std::string_view::npos;
    }
    return false;
}

std::vector<WinePrinter> servable_printers(const std::vector<WinePrinter> &printers,
                                           const std::vector<CupsQueue> &queues) {
    std::vector<WinePrinter> kept;
    for (const WinePrinter &p : printers) {
        if (p.port.substr(0, 5) != "CUPS:") {
            kept.push_back(p);
            continue;
        }
        std::string name = p.port.substr(5);
        for (const CupsQueue &q : queues)
            if (q.name == name && !q.temporary && !leads_to_this_machine(q.device_uri))
                kept.push_back(p);
    }
    return kept;
}

bool cups_queues(std::vector<CupsQueue> &queues) {
    static const char *const wanted[] = {"printer-name", "device-uri", "printer-is-temporary"};
    ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
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
        std::string_view name = ippGetName(a);
        if (name == "printer-name")
            queue.name = ippGetString(a, 0, nullptr) ?: "";
        else if (name == "device-uri")
            queue.device_uri = ippGetString(a, 0, nullptr) ?: "";
        else if (name == "printer-is-temporary")
            queue.temporary = ippGetBoolean(a, 0);
    }
    ippDelete(response);
    return answered;
}
