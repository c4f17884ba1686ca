#include "printer/printer_query.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>

namespace {

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DcHandle = std::unique_ptr<HDC__, DcDeleter>;

// The fixed-size name records of DC_PAPERNAMES and DC_BINNAMES.
using PaperName = std::array<wchar_t, 64>;
using BinName = std::array<wchar_t, 24>;
using ResolutionPair = std::array<LONG, 2>;

// Records the thread's last error against `call`, made for `printer` unless it is empty.
bool call_failed(QueryFailure *failure, const std::wstring &call,
                 const std::wstring &printer = L"") {
    DWORD error = GetLastError();
    std::wstring subject = printer.empty() ? L"" : L" for printer " + printer;
    *failure = {QUERY_CALL_FAILED,
                call + L" failed" + subject + L": error " + std::to_wstring(error)};
    return false;
}

std::wstring text_or_empty(const wchar_t *text) {
    return text ? text : L"";
}

// A record without its NUL (a name that fills it) ends at the record's end.
template <size_t N>
std::wstring record_text(const std::array<wchar_t, N> &record) {
    return std::wstring(record.data(), wcsnlen(record.data(), N));
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

struct Device {
    const std::wstring &name;
    std::wstring port;
};

// The entries of one DeviceCapabilitiesW list, asked for their count first;
// false when the driver fails it.
template <typename T>
bool capability_list(const Device &device, WORD capability, std::vector<T> *entries) {
    int count =
        DeviceCapabilitiesW(device.name.c_str(), device.port.c_str(), capability, nullptr, nullptr);
    if (count < 0)
        return false;
    entries->assign(size_t(count), T{});
    if (count == 0)
        return true;
    int filled = DeviceCapabilitiesW(device.name.c_str(), device.port.c_str(), capability,
                                     reinterpret_cast<LPWSTR>(entries->data()), nullptr);
    if (filled < 0)
        return false;
    entries->resize(std::min(size_t(filled), entries->size()));
    return true;
}

bool capability_value(const Device &device, WORD capability, int32_t *value) {
    *value =
        DeviceCapabilitiesW(device.name.c_str(), device.port.c_str(), capability, nullptr, nullptr);
    return *value >= 0;
}

bool query_flags(const Device &device, PrinterCapabilities *caps, QueryFailure *failure) {
    const struct {
        WORD capability;
        const wchar_t *call;
        bool *flag;
    } flags[] = {{DC_COLORDEVICE, L"DeviceCapabilitiesW(DC_COLORDEVICE)", &caps->color},
                 {DC_DUPLEX, L"DeviceCapabilitiesW(DC_DUPLEX)", &caps->duplex},
                 {DC_COLLATE, L"DeviceCapabilitiesW(DC_COLLATE)", &caps->collate}};
    for (const auto &f : flags) {
        int32_t value = 0;
        if (!capability_value(device, f.capability, &value))
            return call_failed(failure, f.call, device.name);
        *f.flag = value != 0;
    }
    if (!capability_value(device, DC_COPIES, &caps->copies))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_COPIES)", device.name);
    return true;
}

bool query_resolutions(const Device &device, PrinterCapabilities *caps, QueryFailure *failure) {
    std::vector<ResolutionPair> pairs;
    if (!capability_list(device, DC_ENUMRESOLUTIONS, &pairs))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_ENUMRESOLUTIONS)", device.name);
    for (const ResolutionPair &pair : pairs)
        caps->resolutions.push_back({int32_t(pair[0]), int32_t(pair[1])});
    return true;
}

bool query_bins(const Device &device, PrinterCapabilities *caps, QueryFailure *failure) {
    std::vector<WORD> ids;
    std::vector<BinName> names;
    if (!capability_list(device, DC_BINS, &ids))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_BINS)", device.name);
    if (!capability_list(device, DC_BINNAMES, &names))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_BINNAMES)", device.name);
    for (size_t i = 0; i < ids.size(); ++i)
        caps->bins.push_back({ids[i], i < names.size() ? record_text(names[i]) : L""});
    return true;
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

// What an information context made for paper `id`, upright, reports; zeros
// when the driver makes none.
PaperMetrics paper_metrics(const std::wstring &name, std::vector<BYTE> device_mode, int32_t id) {
    auto *dm = reinterpret_cast<DEVMODEW *>(device_mode.data());
    dm->dmPaperSize = short(id);
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmFields =
        (dm->dmFields | DM_PAPERSIZE | DM_ORIENTATION) & ~DWORD(DM_PAPERLENGTH | DM_PAPERWIDTH);
    DcHandle dc(CreateICW(nullptr, name.c_str(), nullptr, dm));
    if (!dc)
        return {};
    auto cap = [&](int index) { return int32_t(GetDeviceCaps(dc.get(), index)); };
    return {cap(PHYSICALWIDTH), cap(PHYSICALHEIGHT), cap(PHYSICALOFFSETX), cap(PHYSICALOFFSETY),
            cap(HORZRES),       cap(VERTRES),        cap(LOGPIXELSX),      cap(LOGPIXELSY)};
}

bool query_papers(const Device &device, const std::vector<BYTE> &device_mode,
                  PrinterCapabilities *caps, QueryFailure *failure) {
    std::vector<WORD> ids;
    std::vector<POINT> sizes;
    std::vector<PaperName> names;
    if (!capability_list(device, DC_PAPERS, &ids))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_PAPERS)", device.name);
    if (!capability_list(device, DC_PAPERSIZE, &sizes))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_PAPERSIZE)", device.name);
    if (!capability_list(device, DC_PAPERNAMES, &names))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_PAPERNAMES)", device.name);
    for (size_t i = 0; i < ids.size(); ++i) {
        Paper paper;
        paper.id = ids[i];
        if (i < sizes.size())
            paper.width = sizes[i].x, paper.height = sizes[i].y;
        paper.metrics = paper_metrics(device.name, device_mode, paper.id);
        if (i < names.size())
            paper.name = record_text(names[i]);
        caps->papers.push_back(std::move(paper));
    }
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

bool query_printers(std::vector<PrinterEntry> *printers, QueryFailure *failure) {
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto enumerate = [&](BYTE *data, DWORD size, DWORD *needed) {
        return EnumPrintersW(flags, nullptr, 2, data, size, needed, &count);
    };
    if (!sized_buffer(enumerate, &buffer))
        return call_failed(failure, L"EnumPrintersW");
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
    Device device{name, L""};
    std::vector<BYTE> device_mode;
    if (!printer_details(printer.get(), name, caps, &device.port, failure) ||
        !query_flags(device, caps, failure) || !query_resolutions(device, caps, failure) ||
        !query_bins(device, caps, failure) ||
        !default_device_mode(printer.get(), name, &device_mode, failure) ||
        !query_papers(device, device_mode, caps, failure))
        return false;
    caps->defaults = default_settings(*reinterpret_cast<const DEVMODEW *>(device_mode.data()));
    return true;
}
