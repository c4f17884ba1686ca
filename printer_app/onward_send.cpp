#include "onward_send.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <cups/cups.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fd_io.h"
#include "onward.h"

namespace {

constexpr int CONNECT_MS = 30000;
// A socket printer may answer on its back channel; what it says is not
// waited for longer than this once the document is sent.
constexpr int DRAIN_MS = 10000;

struct HttpCloser {
    void operator()(http_t *http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct AddrFreer {
    void operator()(http_addrlist_t *list) const { httpAddrFreeList(list); }
};

// Copies `fd` to the request's body; false when the peer stops taking it.
bool write_body(int fd, http_t *http) {
    return read_all(fd, [http](const char *data, size_t size) {
        return cupsWriteRequestData(http, data, size) == HTTP_STATUS_CONTINUE;
    });
}

OnwardResult to_queue(int fd, const std::string &queue, const std::string &title) {
    OnwardResult result;
    Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           CONNECT_MS, nullptr));
    cups_option_t *raw = nullptr;
    int count = cupsAddOption("raw", "true", 0, &raw);
    int job = http ? cupsCreateJob(http.get(), queue.c_str(), title.c_str(), count, raw) : 0;
    cupsFreeOptions(count, raw);
    result.sent = job > 0 &&
                  cupsStartDocument(http.get(), queue.c_str(), job, title.c_str(), CUPS_FORMAT_RAW,
                                    1) == HTTP_STATUS_CONTINUE &&
                  write_body(fd, http.get()) &&
                  cupsFinishDocument(http.get(), queue.c_str()) == IPP_STATUS_OK;
    if (!result.sent)
        result.error =
            "the CUPS queue " + queue + " did not take the job: " + cupsLastErrorString();
    http.reset();
    if (!result.sent && job > 0)
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), job, 0);
    return result;
}

// Reads what the printer says back until it closes, or is silent too long.
void drain(int socket) {
    char buffer[4096];
    pollfd p{socket, POLLIN, 0};
    while (poll(&p, 1, DRAIN_MS) > 0 && recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
}

OnwardResult to_socket(int fd, const std::string &uri) {
    OnwardResult result;
    UriParts d;
    std::string shown = public_destination(uri);
    std::string port = std::to_string(separate_uri(uri, d) && d.port > 0 ? d.port : 9100);
    std::unique_ptr<http_addrlist_t, AddrFreer> addresses(
        httpAddrGetList(d.host, AF_UNSPEC, port.c_str()));
    int socket = -1;
    if (!addresses || !httpAddrConnect2(addresses.get(), &socket, CONNECT_MS, nullptr)) {
        result.error = shown + " cannot be reached: " + strerror(errno);
        return result;
    }
    result.sent = copy_all(fd, socket, true) && shutdown(socket, SHUT_WR) == 0;
    if (result.sent)
        drain(socket);
    else
        result.error = shown + " did not take all of the job: " + strerror(errno);
    close(socket);
    return result;
}

// The password of the URI being sent to, given to CUPS when the printer
// asks for one.
const char *uri_password(const char *, http_t *, const char *, const char *, void *password) {
    return static_cast<const char *>(password);
}

ipp_t *print_job_request(const UriParts &d, const std::string &title, const char *user) {
    char printer_uri[1024];
    httpAssembleURI(HTTP_URI_CODING_ALL, printer_uri, sizeof printer_uri, d.scheme, nullptr, d.host,
                    d.port, d.resource);
    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "application/octet-stream");
    return request;
}

OnwardResult to_ipp(int fd, const std::string &uri, const std::string &title) {
    OnwardResult result;
    UriParts d;
    std::string shown = public_destination(uri);
    if (!separate_uri(uri, d)) {
        result.error = shown + " is no URI", result.refused = true;
        return result;
    }
    bool secure = strcasecmp(d.scheme, "ipps") == 0;
    std::string user = d.user, password;
    if (size_t colon = user.find(':'); colon != std::string::npos)
        password = user.substr(colon + 1), user.resize(colon);
    cupsSetPasswordCB2(uri_password, password.data());
    Http http(httpConnect2(d.host, d.port, nullptr, AF_UNSPEC,
                           secure ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED, 1,
                           CONNECT_MS, nullptr));
    ipp_t *request = print_job_request(d, title, user.empty() ? cupsUser() : user.c_str());
    bool streamed = http &&
                    cupsSendRequest(http.get(), request, d.resource, CUPS_LENGTH_VARIABLE) ==
                        HTTP_STATUS_CONTINUE &&
                    write_body(fd, http.get());
    ippDelete(streamed ? cupsGetResponse(http.get(), d.resource) : nullptr);
    ippDelete(request);
    cupsSetPasswordCB2(nullptr, nullptr);
    ipp_status_t status = cupsLastError();
    result.sent = streamed && status <= IPP_STATUS_OK_EVENTS_COMPLETE;
    result.refused =
        streamed && status >= IPP_STATUS_ERROR_BAD_REQUEST && status < IPP_STATUS_ERROR_INTERNAL;
    if (!result.sent)
        result.error = shown + " did not take the job: " +
                       (http ? cupsLastErrorString() : "it cannot be reached");
    return result;
}

} // namespace

OnwardResult send_onward(int fd, const std::string &destination, const std::string &title) {
    if (destination.substr(0, 6) == "queue:")
        return to_queue(fd, destination.substr(6), title);
    if (strncasecmp(destination.c_str(), "socket://", 9) == 0)
        return to_socket(fd, destination);
    return to_ipp(fd, destination, title);
}
