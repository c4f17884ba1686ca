// Pure: builds natively, no windows.h.
#include "ui/font_link_list.h"

#include <algorithm>
#include <cwctype>

namespace {

// An entry reduced to what the font system compares: letter case and the
// spaces that may follow the separating comma do not count.
std::wstring comparable(std::wstring_view entry) {
    std::wstring key;
    bool after_comma = false;
    for (wchar_t c : entry) {
        if (after_comma && c == L' ')
            continue;
        after_comma = c == L',';
        key += wchar_t(std::towlower(wint_t(c)));
    }
    return key;
}

} // namespace

std::vector<std::wstring> split_multi_sz(const wchar_t *data, size_t chars) {
    std::vector<std::wstring> entries;
    size_t start = 0;
    for (size_t i = 0; i <= chars; ++i) {
        if (i < chars && data[i] != L'\0')
            continue;
        if (i == start) // the empty entry that ends the list
            break;
        entries.emplace_back(data + start, i - start);
        start = i + 1;
    }
    return entries;
}

std::wstring join_multi_sz(const std::vector<std::wstring> &entries) {
    std::wstring data;
    for (const std::wstring &entry : entries) {
        data += entry;
        data += L'\0';
    }
    data += L'\0';
    return data;
}

bool add_font_link(std::vector<std::wstring> *entries, std::wstring_view link) {
    std::wstring key = comparable(link);
    auto same = [&](const std::wstring &entry) { return comparable(entry) == key; };
    if (std::any_of(entries->begin(), entries->end(), same))
        return false;
    entries->emplace_back(link);
    return true;
}
