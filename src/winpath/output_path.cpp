// Pure: builds natively, no windows.h.
#include "winpath/output_path.h"

namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool is_drive_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

} // namespace

std::wstring output_path_on_drive_c(const std::wstring &name) {
    if (name.empty())
        return name;
    if (is_separator(name[0])) {
        // Two separators open a UNC or device path; one means the root of
        // the current drive, which is C: only by chance.
        if (name.size() > 1 && is_separator(name[1]))
            return name;
        return L"C:" + name;
    }
    if (name.size() > 1 && is_drive_letter(name[0]) && name[1] == L':') {
        // "D:out.ps" would follow that drive's current directory.
        if (name.size() > 2 && is_separator(name[2]))
            return name;
        return name.substr(0, 2) + L"\\" + name.substr(2);
    }
    return L"C:\\" + name;
}

std::wstring output_folder(const std::wstring &path) {
    if (path.size() < 3 || is_separator(path[0]))
        return std::wstring();
    size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return std::wstring();
    // "C:\" is the root itself; "C:\a" would be a file named a.
    return path.substr(0, last == 2 ? 3 : last);
}
