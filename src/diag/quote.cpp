// Pure: builds natively, no windows.h.
#include "diag/quote.h"

#include <cstdio>
#include <type_traits>

namespace {

// Output length (including the opening quote and any prefix) up to which
// characters are still rendered.
constexpr size_t NARROW_LIMIT = 291;
constexpr size_t WIDE_LIMIT = 290;

bool append_escape(std::string &out, unsigned unit) {
    switch (unit) {
    case '\r':
        out += "\\r";
        return true;
    case '\n':
        out += "\\n";
        return true;
    case '\t':
        out += "\\t";
        return true;
    case '"':
        out += "\\\"";
        return true;
    case '\\':
        out += "\\\\";
        return true;
    default:
        return false;
    }
}

template <typename Unit>
std::string render(const Unit *s, const char *prefix, size_t limit, int hex_digits) {
    std::string out(prefix);
    size_t i = 0;
    for (; s[i] && out.size() <= limit; i++) {
        unsigned unit = static_cast<std::make_unsigned_t<Unit>>(s[i]);
        if (append_escape(out, unit))
            continue;
        if (unit >= 0x20 && unit <= 0x7E) {
            out += static_cast<char>(unit);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), hex_digits == 2 ? "\\x%02x" : "\\%04x", unit);
            out += hex;
        }
    }
    out += '"';
    size_t left = 0;
    while (s[i + left] && left < 2)
        left++;
    if (left >= 2)
        out += "...";
    return out;
}

} // namespace

std::string render_quoted_narrow(const char *s) {
    return render(s, "\"", NARROW_LIMIT, 2);
}

std::string render_quoted_wide(const char16_t *s) {
    return render(s, "L\"", WIDE_LIMIT, 4);
}
