#include "ui/font_link.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "ui/font_link_list.h"

namespace {

constexpr wchar_t SYSTEM_LINK_KEY[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink";
// Debian's fonts-wqy-microhei, found by Wine among the system's fonts.
constexpr wchar_t CJK_LINK[] = L"wqy-microhei.ttc,WenQuanYi Micro Hei";
// Controls without a font of their own (the progress window's) draw with
// the system font, whose links Wine builds from its own "System" entry
// followed by Tahoma and Tahoma's links; message boxes use Tahoma ("MS Shell
// Dlg" stands for it, and Wine ignores links of such substitutes). Wine
// rewrites Tahoma's links whenever the code page changes, never "System"'s.
constexpr const wchar_t *INTERFACE_FACES[] = {L"System", L"Tahoma"};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<HKEY__, KeyCloser>;

bool failed(std::wstring *error, const wchar_t *call, LONG status) {
    *error = std::wstring(call) + L" failed: error " + std::to_wstring(status);
    return false;
}

// The entries of value `face`: none when it is missing or not a string list.
bool read_links(HKEY key, const wchar_t *face, std::vector<std::wstring> *links,
                std::wstring *error) {
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExW(key, face, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS)
        return failed(error, L"RegQueryValueExW", status);
    if (type != REG_MULTI_SZ && type != REG_SZ)
        return true;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    status =
        RegQueryValueExW(key, face, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
    if (status != ERROR_SUCCESS)
        return failed(error, L"RegQueryValueExW", status);
    *links = split_multi_sz(data.data(), std::min<size_t>(size / sizeof(wchar_t), data.size()));
    return true;
}

bool link_face(HKEY key, const wchar_t *face, std::wstring *error) {
    std::vector<std::wstring> links;
    if (!read_links(key, face, &links, error))
        return false;
    if (!add_font_link(&links, CJK_LINK))
        return true;
    std::wstring data = join_multi_sz(links);
    LONG status =
        RegSetValueExW(key, face, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                       DWORD(data.size() * sizeof(wchar_t)));
    return status == ERROR_SUCCESS || failed(error, L"RegSetValueExW", status);
}

// Wine brings the links of its own faces in line with the process's code
// page when the process first uses the font system; letting that happen
// before the links are written keeps the next program of this locale from
// overwriting them.
void settle_font_links() {
    GetStockObject(SYSTEM_FONT);
}

} // namespace

bool link_cjk_font(std::wstring *error) {
    settle_font_links();
    HKEY raw = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SYSTEM_LINK_KEY, 0, nullptr, 0,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS)
        return failed(error, L"RegCreateKeyExW", status);
    KeyHandle key(raw);
    for (const wchar_t *face : INTERFACE_FACES)
        if (!link_face(key.get(), face, error))
            return false;
    return true;
}
