// Pure: builds natively, no windows.h.
// Splitting of the command line into entries, by the rules of the platform's
// CommandLineToArgvW, without loading the shell library that holds it (a
// start-up cost of its own under Wine).
#pragma once

#include <string>
#include <vector>

// The entries of `line`; the first is taken as a program name (up to the next
// quote when it begins with one, else up to white space, no escapes). An
// empty line gives no entries: the platform would give the program's path.
std::vector<std::wstring> split_command_line(const wchar_t *line);
