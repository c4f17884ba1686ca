#include "winpath/unix_path.h"

#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "diag/log_line.h"
#include "winpath/output_path.h"
#include "winpath/drive_c_path.h"
#include "base/heap_ptr.h"

namespace {

constexpr NTSTATUS NT_SUCCESS_STATUS = 0;
constexpr NTSTATUS NT_NO_SUCH_FILE = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS NT_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023);
constexpr UINT DISPOSITION_OPEN_IF = 3; // FILE_OPEN_IF: the last element need not exist
// A path that keeps growing between calls is not a path.
constexpr int UNIX_NAME_ATTEMPTS = 4;
// The first buffer offered; the platform asks for more when a path does not fit.
constexpr ULONG UNIX_NAME_FIRST_SIZE = 256;

using DosFromUnix = WCHAR *(CDECL *)(const char *);
using NtToUnix = NTSTATUS(CDECL *)(const OBJECT_ATTRIBUTES *, char *, ULONG *, UINT);

template <typename Function>
Function wine_export(const wchar_t *module, const char *name) {
    HMODULE handle = GetModuleHandleW(module);
    return handle ? reinterpret_cast<Function>(
                        reinterpret_cast<void (*)()>(GetProcAddress(handle, name)))
                  : nullptr;
}

using UnixPath = HeapPtr<char>;

UnixPath nt_to_unix(const std::wstring &nt_path) {
    auto convert = wine_export<NtToUnix>(L"ntdll.dll", "wine_nt_to_unix_file_name");
    size_t bytes = nt_path.size() * sizeof(wchar_t);
    if (!convert || bytes > 0xFFFE)
        return nullptr;
    UNICODE_STRING object_name;
    object_name.Length = object_name.MaximumLength = static_cast<USHORT>(bytes);
    object_name.Buffer = const_cast<PWSTR>(nt_path.c_str());
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &object_name;

    ULONG size = UNIX_NAME_FIRST_SIZE;
    for (int attempt = 0; attempt < UNIX_NAME_ATTEMPTS; ++attempt) {
        UnixPath buffer(static_cast<char *>(malloc(size)));
        if (!buffer)
            return nullptr;
        ULONG offered = size;
        NTSTATUS status = convert(&attributes, buffer.get(), &size, DISPOSITION_OPEN_IF);
        if (status == NT_SUCCESS_STATUS || status == NT_NO_SUCH_FILE)
            return buffer;
        if (status != NT_BUFFER_TOO_SMALL || size <= offered)
            return nullptr;
    }
    return nullptr;
}

// Whether Wine itself takes this unix folder for the root of drive C:.
bool is_drive_c_root(const std::string &folder) {
    DosPath dos(dos_path_from_unix(folder.c_str()));
    return dos && _wcsicmp(dos.get(), L"C:\\") == 0;
}

UnixPath through_real_folder(UnixPath path) {
    std::string candidate;
    size_t root_length = 0;
    if (!drive_c_candidate(path.get(), &candidate, &root_length) ||
        !is_drive_c_root(candidate.substr(0, root_length)))
        return path;
    UnixPath copy(static_cast<char *>(malloc(candidate.size() + 1)));
    if (!copy)
        return path;
    memcpy(copy.get(), candidate.c_str(), candidate.size() + 1);
    return copy;
}

} // namespace

wchar_t *dos_path_from_unix(const char *unix_path) {
    auto convert = wine_export<DosFromUnix>(L"kernel32.dll", "wine_get_dos_file_name");
    return convert && unix_path ? convert(unix_path) : nullptr;
}

void free_dos_path(wchar_t *path) {
    if (path)
        HeapFree(GetProcessHeap(), 0, path);
}

char *get_unix_file_name(const wchar_t *name) {
    if (!name)
        return nullptr;
    // The same anchoring on drive C: as the document start gave the driver,
    // so the path reported is the file written. The driver wrote it through a
    // Win32 path, where '/' separates folders too; an NT path knows only '\'.
    std::wstring nt_path = L"\\??\\" + output_path_on_drive_c(name);
    std::replace(nt_path.begin(), nt_path.end(), L'/', L'\\');
    LOG_PROGRESS("get_unix_file_name", "%s%s\n", quote_wide_string(nt_path.c_str()));
    UnixPath path = nt_to_unix(nt_path);
    if (!path)
        return nullptr;
    return through_real_folder(std::move(path)).release();
}
