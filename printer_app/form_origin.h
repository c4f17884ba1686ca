// Whether a form was sent from a page of this server: a browser names the
// page a request comes from (Origin, else Referer), and a page that another
// site serves, even one on 127.0.0.1 at another port, names its own.
#pragma once

#include <string_view>

// Whether `origin` (scheme://host[:port]), else `referer` (a URL), names
// the server that the request's Host field (`host`) names. Neither given:
// not a browser's form, refused.
bool same_origin(std::string_view host, std::string_view origin, std::string_view referer);
