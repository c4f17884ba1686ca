#include "support/wine_host.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

bool windows_can_be_created(std::string &reason) {
    static int known = -1;
    if (known < 0) {
        HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                                     nullptr, nullptr, nullptr);
        known = probe != nullptr;
        if (probe)
            DestroyWindow(probe);
    }
    if (!known) {
        const char *display = getenv("DISPLAY");
        reason = std::string("CreateWindowExW fails: no usable X display (DISPLAY=") +
                 (display ? display : "unset") + ")";
    }
    return known;
}

std::string unix_path(const std::wstring &dos_path) {
    using ToUnix = char *(CDECL *)(const wchar_t *);
    auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char *path = to_unix ? to_unix(dos_path.c_str()) : nullptr;
    if (!path)
        return "";
    std::string result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

std::string file_contents(const std::wstring &path) {
    std::unique_ptr<FILE, decltype(&fclose)> stream(_wfopen(path.c_str(), L"rb"), &fclose);
    if (!stream)
        return "";
    std::string text;
    char chunk[65536];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof(chunk), stream.get())) > 0)
        text.append(chunk, got);
    return text;
}
