// Wine's mapping between unix paths and the program's drives: page files
// arrive named by unix path, and the job's output file, named on drive C:,
// is reported to the server by its unix path. Both directions are Wine's own
// exports, looked up at run time.
#pragma once

#include <windows.h>

#include <memory>

// The DOS path of a unix path (wine_get_dos_file_name), or null when Wine
// cannot map it or does not export the mapping. Release with free_dos_path.
wchar_t *dos_path_from_unix(const char *unix_path);
void free_dos_path(wchar_t *path);

struct DosPathDeleter {
    void operator()(wchar_t *path) const { free_dos_path(path); }
};
using DosPath = std::unique_ptr<wchar_t, DosPathDeleter>;

// The unix path of `name`, taken relative to the root of drive C:, whether
// or not the file exists yet (its folder must). Newly allocated with malloc,
// or null. A path that Wine gives through its device link to drive C: is
// given through the real folder instead (see drive_c_path.h).
char *get_unix_file_name(const wchar_t *name);
