// One page on the printer: unscaled at the printable area's corner, unscaled
// on the physical page, or stretched over the printable area through an
// image the size of that area.
#include "service/page_render.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "diag/log_line.h"
#include "base/job_state.h"
#include "service/page_placement.h"

namespace {

static_assert(sizeof(DibHeader) == sizeof(BITMAPINFOHEADER));
static_assert(offsetof(DibHeader, biBitCount) == offsetof(BITMAPINFOHEADER, biBitCount));
static_assert(offsetof(DibHeader, biClrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));
static_assert(offsetof(DibInfo, colours) == offsetof(BITMAPINFO, bmiColors));

const char FUNCTION[] = "HandlePageFilename";

const BITMAPINFO *bitmap_info(const DibInfo &info) {
    return reinterpret_cast<const BITMAPINFO *>(&info);
}

BITMAPINFO *bitmap_info(DibInfo &info) {
    return reinterpret_cast<BITMAPINFO *>(&info);
}

PageMetrics query_metrics(HDC dc) {
    return {GetDeviceCaps(dc, HORZRES),         GetDeviceCaps(dc, VERTRES),
            GetDeviceCaps(dc, PHYSICALWIDTH),   GetDeviceCaps(dc, PHYSICALHEIGHT),
            GetDeviceCaps(dc, PHYSICALOFFSETX), GetDeviceCaps(dc, PHYSICALOFFSETY)};
}

void log_page(uint32_t scale, const BmpPage &page, const PageMetrics &m) {
    int total = current_job ? static_cast<int>(current_job->reserved1) : 0;
    LOG_PROGRESS(FUNCTION,
                 "%sscale %d bmp width %ld, height %ld, nPrinterWidth %d, nPrinterHeight %d "
                 "remaining %d/%d pages, %d %d, %d %d\n",
                 static_cast<int>(scale), static_cast<long>(page.width),
                 static_cast<long>(page.height), m.printable_width, m.printable_height,
                 pages_received, total, m.physical_width, m.physical_height, m.offset_x,
                 m.offset_y);
}

// One pixel per device pixel, the bitmap's top left corner at x, y.
void draw_unscaled(const unsigned char *bits, const BmpPage &page, int x, int y) {
    int rows = static_cast<int>(page.rows);
    int lines = StretchDIBits(printer_dc, x, y, page.width, rows, 0, 0, page.width, rows, bits,
                              bitmap_info(page.info), DIB_RGB_COLORS, SRCCOPY);
    if (lines != rows) {
        DWORD error = GetLastError();
        ERR_ON(dbch_printproxy, FUNCTION, "StartPage failed, %lx\n",
               static_cast<unsigned long>(error));
    }
}

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

struct BitmapDeleter {
    void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

// Puts the previously selected object back when it goes out of scope.
struct Selection {
    HDC dc;
    HGDIOBJ previous;
    ~Selection() {
        if (previous)
            SelectObject(dc, previous);
    }
};

// How the conversion ended; the last-error value is taken where it failed,
// before the clean-up can change it.
struct Conversion {
    bool done;
    DWORD error;
};

Conversion failed() {
    return {false, GetLastError()};
}

// The printable area's image in the page's own format: its bit depth and,
// for palette depths, its colour table, so that no colour is remapped.
void init_converted_header(DibInfo *converted, const BmpPage &page, const PageMetrics &m) {
    *converted = DibInfo{};
    DibHeader &header = converted->header;
    header.biSize = BMP_INFO_HEADER_SIZE;
    header.biWidth = m.printable_width;
    header.biHeight = m.printable_height;
    header.biPlanes = page.info.header.biPlanes;
    header.biBitCount = page.info.header.biBitCount;
    header.biCompression = BMP_RGB;
    if (header.biBitCount <= 8)
        for (size_t i = 0; i < BMP_MAX_COLOURS; ++i)
            converted->colours[i] = page.info.colours[i];
}

// The page is stretched into an image of the printable area's size first,
// which then goes to the printer one pixel per device pixel. The image is a
// DIB section, so its pixels are drawn from where the stretch left them.
// Clean-up runs in reverse order of creation: selection, section, DC.
Conversion convert_and_draw(const unsigned char *bits, const BmpPage &page, const PageMetrics &m) {
    int width = m.printable_width;
    int height = m.printable_height;
    DibInfo converted;
    init_converted_header(&converted, page, m);
    void *pixels = nullptr;
    MemoryDc memory(CreateCompatibleDC(nullptr));
    Bitmap section(
        CreateDIBSection(nullptr, bitmap_info(converted), DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!memory || !section || !pixels)
        return failed();
    Selection selection{memory.get(), SelectObject(memory.get(), section.get())};
    // A new DC shrinks by AND-ing the pixels it drops (BLACKONWHITE), which
    // darkens colour edges; dropping them outright is also faster.
    SetStretchBltMode(memory.get(), COLORONCOLOR);
    if (!StretchDIBits(memory.get(), 0, 0, width, height, 0, 0, page.width,
                       static_cast<int>(page.rows), bits, bitmap_info(page.info), DIB_RGB_COLORS,
                       SRCCOPY))
        return failed();
    GdiFlush();
    if (StretchDIBits(printer_dc, 0, 0, width, height, 0, 0, width, height, pixels,
                      bitmap_info(converted), DIB_RGB_COLORS, SRCCOPY) != height)
        return failed();
    return {true, 0};
}

void draw_fitted(const unsigned char *bits, const BmpPage &page, const PageMetrics &m) {
    ERR_ON(dbch_printproxy, FUNCTION, "should not convert the image.\n");
    Conversion conversion = convert_and_draw(bits, page, m);
    if (conversion.done || conversion.error == 0)
        LOG_PROGRESS(FUNCTION, "%sprint finish.\n");
    else
        ERR_ON(dbch_printproxy, FUNCTION, "print failed, %lx\n",
               static_cast<unsigned long>(conversion.error));
}

} // namespace

void print_bmp_page(const unsigned char *file, const BmpPage &page) {
    if (StartPage(printer_dc) <= 0) {
        DWORD error = GetLastError();
        ERR_ON(dbch_printproxy, FUNCTION, "StartPage failed, %lx\n",
               static_cast<unsigned long>(error));
        return;
    }
    job_state.store(JOB_STATE_PAGE_STARTED);
    const unsigned char *bits = file + page.bits_offset;
    PageMetrics metrics = query_metrics(printer_dc);
    uint32_t scale = current_job ? current_job->scale : 0;
    log_page(scale, page, metrics);
    switch (choose_placement(scale, page.width, page.rows, metrics)) {
    case PagePlacement::AS_IS:
        draw_unscaled(bits, page, 0, 0);
        break;
    case PagePlacement::PAGE_SIZE:
        draw_unscaled(bits, page, -metrics.offset_x, -metrics.offset_y);
        break;
    case PagePlacement::FIT:
        draw_fitted(bits, page, metrics);
        break;
    }
    EndPage(printer_dc);
}
