// Pure: builds natively, no windows.h.
#include "winpath/drive_c_path.h"

namespace {

const char DEVICE_LINK[] = "/dosdevices/c:";
const char REAL_FOLDER[] = "/drive_c";

} // namespace

bool drive_c_candidate(const std::string &unix_path, std::string *candidate, size_t *root_length) {
    const size_t link_length = sizeof(DEVICE_LINK) - 1;
    size_t at = unix_path.rfind(DEVICE_LINK);
    if (at == std::string::npos || at == 0)
        return false;
    size_t end = at + link_length;
    if (end != unix_path.size() && unix_path[end] != '/')
        return false;
    *candidate = unix_path.substr(0, at) + REAL_FOLDER + unix_path.substr(end);
    *root_length = at + sizeof(REAL_FOLDER) - 1;
    return true;
}
