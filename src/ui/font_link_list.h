// Pure: builds natively, no windows.h.
// The entries of a font link value (REG_MULTI_SZ: "file,face" strings, each
// NUL-terminated, then an empty one) and the appending of one link. Pure logic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The entries of `chars` characters of REG_MULTI_SZ data, up to the first
// empty one; a value whose last entry lacks its NUL still yields that entry.
std::vector<std::wstring> split_multi_sz(const wchar_t *data, size_t chars);

// The entries as REG_MULTI_SZ data, closing NUL included.
std::wstring join_multi_sz(const std::vector<std::wstring> &entries);

// Appends `link` unless an entry names the same file and face (in any letter
// case, spaces after the comma ignored); true when it was appended.
bool add_font_link(std::vector<std::wstring> *entries, std::wstring_view link);
