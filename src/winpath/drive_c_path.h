// Pure: builds natively, no windows.h.
// Wine reaches drive C: through a link in its device folder,
// "<prefix>/dosdevices/c:", which a new prefix points at "<prefix>/drive_c".
// The server is told the path through the real folder, not through the link.
#pragma once

#include <cstddef>
#include <string>

// "<prefix>/dosdevices/c:/rest" -> "<prefix>/drive_c/rest", with the length of
// "<prefix>/drive_c" in root_length. False for a path not of that form.
bool drive_c_candidate(const std::string &unix_path, std::string *candidate, size_t *root_length);
