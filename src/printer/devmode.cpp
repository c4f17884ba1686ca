#include "printer/devmode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "diag/debug_channel.h"
#include "printer/devmode_dump.h"
#include "printer/paper_table.h"
#include "printer/printer_handle.h"

static_assert(sizeof(DEVMODEA) == 156, "the fixed part that drivers extend");

namespace {

constexpr const char *GET_DEVMODE = "get_devmode_by_name";
constexpr const char *SET_DEVMODE = "set_devmode";

void *allocate_zeroed(size_t size) {
    return calloc(1, size);
}

// Without a requested count the driver's own copies setting would multiply
// every page, so it is reset to one; the collation request means nothing
// without copies.
void apply_copies(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_COPIES)) {
        if (dm->dmFields & DM_COPIES)
            dm->dmCopies = 1;
        return;
    }
    dm->dmCopies = short(request->copies);
    TRACE_ON(dbch_printer, SET_DEVMODE, "copies %d\n", dm->dmCopies);
    dm->dmCollate = DMCOLLATE_TRUE;
    dm->dmFields |= DM_COPIES;
    if (request->fields & FIELD_COLLATE) {
        dm->dmCollate = short(request->collate);
        TRACE_ON(dbch_printer, SET_DEVMODE, "collate %d\n", dm->dmCollate);
        dm->dmFields |= DM_COLLATE;
    }
}

void apply_duplex(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_DUPLEX))
        return;
    dm->dmDuplex = short(request->duplex);
    TRACE_ON(dbch_printer, SET_DEVMODE, "duplex %d\n", dm->dmDuplex);
    dm->dmFields |= DM_DUPLEX;
}

void apply_paper_source(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_PAPER_SOURCE))
        return;
    dm->dmDefaultSource = short(request->paper_source);
    dm->dmFields |= DM_DEFAULTSOURCE;
    TRACE_ON(dbch_printer, SET_DEVMODE, "papersource %d\n", dm->dmDefaultSource);
}

// The printer's own papers, as its driver lists them; none when it cannot.
std::vector<DriverPaper> driver_papers(const char *printer) {
    int count = DeviceCapabilitiesA(printer, nullptr, DC_PAPERS, nullptr, nullptr);
    if (count <= 0 ||
        DeviceCapabilitiesA(printer, nullptr, DC_PAPERSIZE, nullptr, nullptr) != count)
        return {};
    std::vector<WORD> codes(count);
    std::vector<POINT> sizes(count);
    if (DeviceCapabilitiesA(printer, nullptr, DC_PAPERS, reinterpret_cast<LPSTR>(codes.data()),
                            nullptr) != count ||
        DeviceCapabilitiesA(printer, nullptr, DC_PAPERSIZE, reinterpret_cast<LPSTR>(sizes.data()),
                            nullptr) != count)
        return {};
    std::vector<DriverPaper> papers;
    for (int i = 0; i < count; i++)
        papers.push_back({codes[i], sizes[i].x, sizes[i].y});
    return papers;
}

// The explicit sizes the driver takes: DC_MAXEXTENT and DC_MINEXTENT, each
// width in the low word and height in the high; none when it states none.
CustomPaperRange driver_custom_range(const char *printer) {
    const DWORD most = DWORD(DeviceCapabilitiesA(printer, nullptr, DC_MAXEXTENT, nullptr, nullptr));
    const DWORD least =
        DWORD(DeviceCapabilitiesA(printer, nullptr, DC_MINEXTENT, nullptr, nullptr));
    if (most == 0 || most == DWORD(-1) || least == DWORD(-1))
        return {};
    return {LOWORD(least), HIWORD(least), LOWORD(most), HIWORD(most)};
}

// A paper code where the driver or the standard table has one, unless the
// driver takes the size as it is; otherwise an explicit size, which drivers
// only honour with paper code 0 and DM_PAPERSIZE cleared.
void apply_paper_size(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_PAPER_SIZE))
        return;
    uint32_t width = request->paper_size >> 16;
    uint32_t height = request->paper_size & 0xFFFF;
    TRACE_ON(dbch_printer, SET_DEVMODE, "paper_sizes %d,%d\n", int(width), int(height));
    const std::optional<int32_t> code =
        name_field_terminated(request->printer_name)
            ? choose_driver_paper(width, height, driver_papers(request->printer_name),
                                  driver_custom_range(request->printer_name))
            : find_paper_code(width, height);
    if (code) {
        dm->dmPaperSize = short(*code);
        dm->dmFields |= DM_PAPERSIZE;
        return;
    }
    dm->dmPaperSize = 0;
    dm->dmFields &= ~DWORD(DM_PAPERSIZE);
    dm->dmFields |= DM_PAPERLENGTH | DM_PAPERWIDTH;
    dm->dmPaperLength = points_to_tenths_mm(height);
    dm->dmPaperWidth = points_to_tenths_mm(width);
}

// A quality of 0 or more is a resolution in dots per inch and needs its Y
// resolution; a negative one is a driver quality code and carries none.
int apply_print_quality(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_PRINT_QUALITY))
        return STATUS_OK;
    dm->dmPrintQuality = short(request->print_quality);
    dm->dmFields |= DM_PRINTQUALITY;
    if (request->print_quality >= 0) {
        if (!(request->fields & FIELD_Y_RESOLUTION)) {
            ERR_ON(dbch_printer, SET_DEVMODE, "without YResolution\n");
            return STATUS_NO_Y_RESOLUTION;
        }
        dm->dmYResolution = short(request->y_resolution);
        dm->dmFields |= DM_YRESOLUTION;
    }
    TRACE_ON(dbch_printer, SET_DEVMODE, "PrintQuality->%d\n", dm->dmPrintQuality);
    TRACE_ON(dbch_printer, SET_DEVMODE, "YResolution->%d\n", dm->dmYResolution);
    return STATUS_OK;
}

// Anything but monochrome or colour is left to the driver's setting.
void apply_color(DEVMODEA *dm, const PrintRequest *request) {
    if (!(request->fields & FIELD_COLOR))
        return;
    int color = int(request->color);
    TRACE_ON(dbch_printer, SET_DEVMODE, "Color %d\n", color);
    if (color != DMCOLOR_MONOCHROME && color != DMCOLOR_COLOR) {
        FIXME_ON(dbch_printer, SET_DEVMODE, "not support print dmColor, %d", color);
        return;
    }
    dm->dmColor = short(color);
    dm->dmFields |= DM_COLOR;
}

// The name as far as its field goes, for the trace line: the request may
// come without a terminator.
std::string bounded_printer_name(const PrintRequest *request) {
    return std::string(request->printer_name, strnlen(request->printer_name, PRINTER_NAME_SIZE));
}

} // namespace

DevmodeCalls devmode_calls = {OpenPrinterA, DocumentPropertiesA, ClosePrinter, allocate_zeroed,
                              free};

int set_devmode(DEVMODEA *device_mode, const PrintRequest *request) {
    TRACE_ON(dbch_printer, SET_DEVMODE, "fields %x old devmode %lx\n", request->fields,
             device_mode->dmFields);
    apply_copies(device_mode, request);
    apply_duplex(device_mode, request);
    apply_paper_source(device_mode, request);
    apply_paper_size(device_mode, request);
    if (apply_print_quality(device_mode, request) != STATUS_OK)
        return STATUS_NO_Y_RESOLUTION;
    apply_color(device_mode, request);
    TRACE_ON(dbch_printer, SET_DEVMODE, "newd devmode %lx\n", device_mode->dmFields);
    return STATUS_OK;
}

int get_devmode_by_name(const PrintRequest *request, DEVMODEA **out) {
    TRACE_ON(dbch_printer, GET_DEVMODE, "req %p %p %s\n", request, out,
             quote_ansi_string(bounded_printer_name(request).c_str()));
    if (!name_field_terminated(request->printer_name))
        return STATUS_PRINTER_NOT_OPENED;
    LPSTR name = const_cast<LPSTR>(request->printer_name);
    HANDLE opened = nullptr;
    if (!devmode_calls.open_printer(name, &opened, nullptr))
        return STATUS_PRINTER_NOT_OPENED;
    PrinterHandle printer(opened, PrinterCloser{devmode_calls.close_printer});

    LONG size = devmode_calls.document_properties(nullptr, opened, name, nullptr, nullptr, 0);
    if (size < LONG(sizeof(DEVMODEA)))
        return STATUS_INVALID;
    DevmodeBuffer buffer(static_cast<DEVMODEA *>(devmode_calls.allocate_zeroed(size_t(size))));
    if (!buffer)
        return STATUS_OUT_OF_MEMORY;
    // A driver that fails here leaves the zeroed buffer, which is edited and
    // used all the same.
    devmode_calls.document_properties(nullptr, opened, name, buffer.get(), nullptr, DM_OUT_BUFFER);

    if (set_devmode(buffer.get(), request) != STATUS_OK)
        return STATUS_NO_Y_RESOLUTION;
    dump_devmode(buffer.get());
    *out = buffer.release();
    return STATUS_OK;
}

void free_devmode(DEVMODEA *device_mode) {
    if (device_mode)
        devmode_calls.release(device_mode);
}
