#include "form_origin.h"

#include <algorithm>
#include <cctype>

namespace {

// The host[:port] of a URL; empty when it has no scheme.
std::string_view authority(std::string_view url) {
    size_t start = url.find("://");
    if (start == std::string_view::npos)
        return {};
    url.remove_prefix(start + 3);
    return url.substr(0, url.find_first_of("/?#"));
}

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return tolower(static_cast<unsigned char>(x)) ==
                      tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

bool same_origin(std::string_view host, std::string_view origin, std::string_view referer) {
    std::string_view source = authority(origin.empty() ? referer : origin);
    return !host.empty() && !source.empty() && same_text(source, host);
}
