#include "query/printer_query.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <memory>

#include "query/driver_capabilities.h"
#include "printer/printer_handle.h"

namespace {

std::wstring text_or_empty(const wchar_t *text) {
    return text ? text : L"";
}

// The spooler's answer to a call that is first asked for the size it needs.
// `call` fills a buffer of `size` bytes, setting *needed; false on failure.
template <typename Call>
bool sized_buffer(Call call, std::vector<BYTE> *buffer) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD needed = 0;
        if (call(buffer->empty() ? nullptr : buffer->data(), DWORD(buffer->size()), &needed))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer->size())
            return false;
        buffer->assign(needed, 0); // it may grow between the calls
    }
    return false;
}

// The driver's default device mode, in a zeroed buffer of the size it asks for.
bool default_device_mode(HANDLE printer, const std::wstring &name, std::vector<BYTE> *buffer,
                         QueryFailure *failure) {
    LPWSTR device = const_cast<LPWSTR>(name.c_str());
    LONG size = DocumentPropertiesW(nullptr, printer, device, nullptr, nullptr, 0);
    if (size <= 0)
        return call_failed(failure, L"DocumentPropertiesW", name);
    buffer->assign(std::max(size_t(size), sizeof(DEVMODEW)), 0);
    auto *dm = reinterpret_cast<DEVMODEW *>(buffer->data());
    if (DocumentPropertiesW(nullptr, printer, device, dm, nullptr, DM_OUT_BUFFER) != IDOK)
        return call_failed(failure, L"DocumentPropertiesW(DM_OUT_BUFFER)", name);
    return true;
}

bool printer_details(HANDLE printer, const std::wstring &name, PrinterCapabilities *caps,
                     std::wstring *port, QueryFailure *failure) {
    std::vector<BYTE> buffer;
    auto get = [&](BYTE *data, DWORD size, DWORD *needed) {
        return GetPrinterW(printer, 2, data, size, needed);
    };
    if (!sized_buffer(get, &buffer))
        return call_failed(failure, L"GetPrinterW", name);
    const auto *info = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.data());
    caps->driver = text_or_empty(info->pDriverName);
    *port = text_or_empty(info->pPortName);
    return true;
}

} // namespace

DefaultSettings default_settings(const DEVMODEW &dm) {
    DefaultSettings d;
    auto when = [&](DWORD field, int32_t value) {
        return (dm.dmFields & field) ? std::optional<int32_t>(value) : std::nullopt;
    };
    d.paper = when(DM_PAPERSIZE, dm.dmPaperSize);
    d.bin = when(DM_DEFAULTSOURCE, dm.dmDefaultSource);
    if ((dm.dmFields & DM_PRINTQUALITY) && dm.dmPrintQuality > 0) {
        bool has_y = (dm.dmFields & DM_YRESOLUTION) && dm.dmYResolution > 0;
        d.resolution = Resolution{dm.dmPrintQuality, has_y ? dm.dmYResolution : dm.dmPrintQuality};
    }
    d.color = when(DM_COLOR, dm.dmColor);
    d.duplex = when(DM_DUPLEX, dm.dmDuplex);
    d.orientation = when(DM_ORIENTATION, dm.dmOrientation);
    d.copies = when(DM_COPIES, dm.dmCopies);
    d.collate = when(DM_COLLATE, dm.dmCollate);
    return d;
}

bool call_failed(QueryFailure *failure, const std::wstring &call, const std::wstring &printer) {
    DWORD error = GetLastError();
    std::wstring subject = printer.empty() ? L"" : L" for printer " + printer;
    *failure = {QUERY_CALL_FAILED,
                call + L" failed" + subject + L": error " + std::to_wstring(error)};
    return false;
}

bool query_printers(std::vector<PrinterEntry> *printers, QueryFailure *failure) {
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto enumerate = [&](BYTE *data, DWORD size, DWORD *needed) {
        return EnumPrintersW(flags, nullptr, 2, data, size, needed, &count);
    };
    if (!sized_buffer(enumerate, &buffer))
        return call_failed(failure, L"EnumPrintersW", L"");
    wchar_t default_name[MAX_PATH + 1] = L"";
    DWORD default_size = MAX_PATH + 1;
    if (!GetDefaultPrinterW(default_name, &default_size))
        default_name[0] = L'\0';
    const auto *infos = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.data());
    for (DWORD i = 0; i < count && !buffer.empty(); ++i) {
        std::wstring name = text_or_empty(infos[i].pPrinterName);
        bool is_default = default_name[0] && _wcsicmp(name.c_str(), default_name) == 0;
        printers->push_back({name, text_or_empty(infos[i].pDriverName),
                             text_or_empty(infos[i].pPortName), is_default});
    }
    return true;
}

bool query_capabilities(const std::wstring &name, PrinterCapabilities *caps,
                        QueryFailure *failure) {
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle, nullptr)) {
        DWORD error = GetLastError();
        *failure = {QUERY_CANNOT_OPEN,
                    L"cannot open printer " + name + L": error " + std::to_wstring(error)};
        return false;
    }
    PrinterHandle printer(handle);
    caps->printer = name;
    DriverDevice device{name, L""};
    std::vector<BYTE> device_mode;
    if (!printer_details(printer.get(), name, caps, &device.port, failure) ||
        !default_device_mode(printer.get(), name, &device_mode, failure) ||
        !query_driver_capabilities(device, device_mode, caps, failure))
        return false;
    caps->defaults = default_settings(*reinterpret_cast<const DEVMODEW *>(device_mode.data()));
    return true;
}
