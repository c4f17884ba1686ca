// Pure: builds natively, no windows.h.
#include "app/command_line.h"

namespace {

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

const wchar_t *skip_blanks(const wchar_t *s) {
    while (is_blank(*s))
        ++s;
    return s;
}

// The program name: no escapes, a leading quote runs to the next quote.
const wchar_t *take_program_name(const wchar_t *s, std::wstring &entry) {
    if (*s == L'"') {
        for (++s; *s && *s != L'"'; ++s)
            entry += *s;
        if (*s == L'"')
            ++s;
        return s;
    }
    for (; *s && !is_blank(*s); ++s)
        entry += *s;
    return s;
}

// A quote after 2n backslashes keeps n of them and opens or closes quoting;
// after 2n+1 it keeps n and is itself kept. Inside quotes, runs of quotes
// yield one literal quote for every third.
const wchar_t *take_quote(const wchar_t *s, std::wstring &entry, int &backslashes, int &quotes) {
    bool escaped = backslashes % 2 == 1;
    entry.resize(entry.size() - static_cast<size_t>(backslashes / 2 + (escaped ? 1 : 0)));
    if (escaped)
        entry += L'"';
    else
        ++quotes;
    backslashes = 0;
    for (++s; *s == L'"'; ++s) {
        if (++quotes == 3) {
            entry += L'"';
            quotes = 0;
        }
    }
    if (quotes == 2)
        quotes = 0;
    return s;
}

} // namespace

std::vector<std::wstring> split_command_line(const wchar_t *line) {
    std::vector<std::wstring> entries;
    if (!line || !*line)
        return entries;
    entries.emplace_back();
    const wchar_t *s = skip_blanks(take_program_name(line, entries.back()));
    int backslashes = 0;
    int quotes = 0;
    if (*s)
        entries.emplace_back();
    while (*s) {
        if (is_blank(*s) && quotes == 0) {
            s = skip_blanks(s);
            backslashes = 0;
            if (*s)
                entries.emplace_back();
        } else if (*s == L'"') {
            s = take_quote(s, entries.back(), backslashes, quotes);
        } else {
            backslashes = *s == L'\\' ? backslashes + 1 : 0;
            entries.back() += *s++;
        }
    }
    return entries;
}
