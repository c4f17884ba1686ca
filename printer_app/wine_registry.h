// What a Wine prefix's registry files say, read as text: Wine keeps each
// key's values together under a "[key]" line, names quoted.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// The values of `key` (backslashes single, any case) in a registry file's
// text, as lower-case name -> the text after '='; none when the key is absent.
std::optional<std::map<std::string, std::string>> registry_values(std::string_view text,
                                                                  std::string_view key);

// The default printer that the text of a prefix's user.reg names; empty
// when it names none.
std::string default_printer_in(std::string_view user_reg);

// The prefix's default printer, from its user.reg; empty when none.
std::string default_printer(const std::string &prefix);

// Whether the prefix's system.reg links WenQuanYi Micro Hei to both
// interface fonts; true when the prefix has no registry to tell.
bool window_font_linked(const std::string &prefix);
