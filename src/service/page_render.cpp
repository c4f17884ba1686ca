// One page on the printer: unscaled at the printable area's corner, unscaled
// on the physical page, or stretched over the printable area through an
// image the size of that area.
#include "service/page_render.h"

#include <windows.h>

#include "diag/log_line.h"
#include "base/job_state.h"
#include "imaging/fit_image.h"
#include "imaging/page_placement.h"

namespace {

const char FUNCTION[] = "HandlePageFilename";

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

// How the conversion ended; the last-error value is taken where it failed.
struct Conversion {
    bool done;
    DWORD error;
};

// The page is stretched into an image of the printable area's size first,
// which then goes to the printer one pixel per device pixel, drawn from
// where the stretch left its pixels.
Conversion convert_and_draw(const unsigned char *bits, const BmpPage &page, const PageMetrics &m) {
    int height = m.printable_height;
    DibInfo format = fit_image_format(page, m.printable_width, height);
    const void *pixels = stretch_into_fit_image(format, bits, page);
    if (!pixels)
        return {false, GetLastError()};
    if (StretchDIBits(printer_dc, 0, 0, m.printable_width, height, 0, 0, m.printable_width, height,
                      pixels, bitmap_info(format), DIB_RGB_COLORS, SRCCOPY) != height)
        return {false, GetLastError()};
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
