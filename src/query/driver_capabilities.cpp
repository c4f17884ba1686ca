#include "query/driver_capabilities.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>

namespace {

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DcHandle = std::unique_ptr<HDC__, DcDeleter>;

// The fixed-size name records of DC_PAPERNAMES and DC_BINNAMES.
using PaperName = std::array<wchar_t, 64>;
using BinName = std::array<wchar_t, 24>;
using ResolutionPair = std::array<LONG, 2>;

// A record without its NUL (a name that fills it) ends at the record's end.
template <size_t N>
std::wstring record_text(const std::array<wchar_t, N> &record) {
    return std::wstring(record.data(), wcsnlen(record.data(), N));
}

// The entries of one DeviceCapabilitiesW list, asked for their count first;
// false when the driver fails it.
template <typename T>
bool capability_list(const DriverDevice &device, WORD capability, std::vector<T> *entries) {
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

bool capability_value(const DriverDevice &device, WORD capability, int32_t *value) {
    *value =
        DeviceCapabilitiesW(device.name.c_str(), device.port.c_str(), capability, nullptr, nullptr);
    return *value >= 0;
}

bool query_flags(const DriverDevice &device, PrinterCapabilities *caps, QueryFailure *failure) {
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

bool query_resolutions(const DriverDevice &device, PrinterCapabilities *caps,
                       QueryFailure *failure) {
    std::vector<ResolutionPair> pairs;
    if (!capability_list(device, DC_ENUMRESOLUTIONS, &pairs))
        return call_failed(failure, L"DeviceCapabilitiesW(DC_ENUMRESOLUTIONS)", device.name);
    for (const ResolutionPair &pair : pairs)
        caps->resolutions.push_back({int32_t(pair[0]), int32_t(pair[1])});
    return true;
}

bool query_bins(const DriverDevice &device, PrinterCapabilities *caps, QueryFailure *failure) {
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

bool query_papers(const DriverDevice &device, const std::vector<BYTE> &device_mode,
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

} // namespace

bool query_driver_capabilities(const DriverDevice &device, const std::vector<BYTE> &device_mode,
                               PrinterCapabilities *caps, QueryFailure *failure) {
    return query_flags(device, caps, failure) && query_resolutions(device, caps, failure) &&
           query_bins(device, caps, failure) && query_papers(device, device_mode, caps, failure);
}
