// Pure: builds natively, no windows.h.
// Printable, quoted renderings of caller-supplied strings for log messages.
// The checks for null, integer ids and unreadable pointers are the
// caller's (see debug_channel.h).
#pragma once

#include <string>

// "text" with C-style escapes; long inputs are cut and marked with "...".
std::string render_quoted_narrow(const char *s);

// L"text" for UTF-16 input; units outside printable ASCII as \xxxx.
std::string render_quoted_wide(const char16_t *s);
