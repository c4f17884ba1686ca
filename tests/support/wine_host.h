// What the tests ask of the Wine session they run in.
#pragma once

#include <string>

// True when this process can create windows (an X display is reachable);
// otherwise `reason` says why not.
bool windows_can_be_created(std::string &reason);

// The unix path of a DOS path (Wine's wine_get_unix_file_name); "" if none.
std::string unix_path(const std::wstring &dos_path);

// The whole of a file, or "" when it cannot be read.
std::string file_contents(const std::wstring &path);
