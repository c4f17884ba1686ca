// The web interface's forms are the owner's alone. PAPPL 1.3 derives a
// form's token from its session key and the client's host name, which is
// the same for every client on 127.0.0.1: another user could read it from
// any page and have the owner's browser send a form with it from a page of
// their own. Here a token also names a cookie that each browser is given
// and the uid of the client that asked for the page, a form must come from
// a page of this server, and whoever sends it must be allowed to
// administer (the owner or root, or with a password when served beyond
// this machine). PAPPL calls these functions through its procedure linkage
// table, so these definitions come first; every form of the web interface
// passes papplClientIsValidForm, the printer page's buttons too.
#include <dlfcn.h>
#include <sys/random.h>

#include <cstring>
#include <string>

#include <pappl/pappl.h>

#include "form_origin.h"
#include "owner_only.h"

namespace {

constexpr char COOKIE[] = "tavri-form";

// The cookie given with a page of this request, before the browser has it.
thread_local pappl_client_t *given_to = nullptr;
thread_local std::string given;

std::string random_hex(size_t bytes) {
    unsigned char data[32];
    std::string out;
    if (bytes > sizeof data || getrandom(data, bytes, 0) != ssize_t(bytes))
        return out;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes; ++i)
        out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}

// The browser's cookie, as its request gives it; empty when it has none.
std::string request_cookie(pappl_client_t *client) {
    char value[65] = "";
    papplClientGetCookie(client, COOKIE, value, sizeof value);
    return strlen(value) == 32 ? value : "";
}

std::string token_for(pappl_client_t *client, const std::string &cookie) {
    char key[65] = "", sum_text[65] = "";
    unsigned char sum[32];
    const Requester &who = current_requester();
    std::string data =
        std::string(papplSystemGetSessionKey(papplClientGetSystem(client), key, sizeof key)) + ":" +
        cookie + ":" + (who.uid ? std::to_string(*who.uid) : papplClientGetHostName(client));
    if (cupsHashData("sha2-256", data.data(), data.size(), sum, sizeof sum) < 0)
        return "";
    return cupsHashString(sum, sizeof sum, sum_text, sizeof sum_text);
}

bool from_own_page(pappl_client_t *client) {
    http_t *http = papplClientGetHTTP(client);
    auto field = [http](http_field_t name) {
        const char *value = httpGetField(http, name);
        return std::string_view(value ? value : "");
    };
    return same_origin(field(HTTP_FIELD_HOST), field(HTTP_FIELD_ORIGIN), field(HTTP_FIELD_REFERER));
}

} // namespace

extern "C" bool papplClientRespond(pappl_client_t *client, http_status_t code,
                                   const char *content_coding, const char *type,
                                   time_t last_modified, size_t length) {
    using Respond =
        bool (*)(pappl_client_t *, http_status_t, const char *, const char *, time_t, size_t);
    static const auto library_respond = reinterpret_cast<Respond>(dlsym(RTLD_NEXT, __func__));
    if (type && strcmp(type, "text/html") == 0 && request_cookie(client).empty()) {
        given_to = client;
        given = random_hex(16);
        // Not papplClientSetCookie's: it marks the cookie for TLS alone.
        httpSetCookie(
            papplClientGetHTTP(client),
            (std::string(COOKIE) + "=" + given + "; path=/; httponly; samesite=strict").c_str());
    }
    return library_respond(client, code, content_coding, type, last_modified, length);
}

extern "C" char *papplClientGetCSRFToken(pappl_client_t *client, char *buffer, size_t size) {
    std::string cookie = request_cookie(client);
    if (cookie.empty() && given_to == client)
        cookie = given;
    snprintf(buffer, size, "%s", cookie.empty() ? "" : token_for(client, cookie).c_str());
    return buffer;
}

extern "C" bool papplClientIsValidForm(pappl_client_t *client, int num_form, cups_option_t *form) {
    const char *session = cupsGetOption("session", num_form, form);
    std::string cookie = request_cookie(client);
    bool valid = session && !cookie.empty() && token_for(client, cookie) == session &&
                 from_own_page(client) && papplClientIsAuthorized(client) == HTTP_STATUS_CONTINUE;
    if (!valid)
        papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                       "Refused a form: not from a page of this server to its owner");
    return valid;
}
