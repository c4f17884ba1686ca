#include "imaging/fit_image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

struct BitmapDeleter {
    void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

// A DIB section selected into a memory DC. A new one for every page would
// cost the kernel a fault for each of its memory pages; every stretch
// overwrites all of it, so one serves the pages of a job that share a format.
struct FitImage {
    DibInfo format;
    MemoryDc dc;
    Bitmap section;
    HGDIOBJ previous;
    void *pixels;
};

// Used by the dispatcher's thread only.
FitImage image;

// Keeps the last-error value of a failed call across the clean-up.
void release_keeping_error() {
    DWORD error = GetLastError();
    release_fit_image();
    SetLastError(error);
}

bool prepare_image(const DibInfo &format) {
    if (image.pixels && memcmp(&image.format, &format, sizeof format) == 0)
        return true;
    release_fit_image();
    image.format = format;
    void *pixels = nullptr;
    image.dc.reset(CreateCompatibleDC(nullptr));
    image.section.reset(
        CreateDIBSection(nullptr, bitmap_info(image.format), DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!image.dc || !image.section || !pixels) {
        release_keeping_error();
        return false;
    }
    image.previous = SelectObject(image.dc.get(), image.section.get());
    // A new DC shrinks by AND-ing the pixels it drops (BLACKONWHITE), which
    // darkens colour edges; dropping them outright is also faster.
    SetStretchBltMode(image.dc.get(), COLORONCOLOR);
    image.pixels = pixels;
    return true;
}

// Wine stretches into a temporary image of the whole destination and then
// copies that into the DC's bitmap: another printable area's worth of memory,
// faulted in anew for every page. Clipped to a band of rows, the same stretch
// makes only that band, and the pixels come out as from one pass; a page
// takes less than half the time and the temporary image a fourteenth of the
// memory.
constexpr int STRETCH_BAND_ROWS = 256;

bool stretch_in_bands(const unsigned char *bits, const BmpPage &page) {
    HDC dc = image.dc.get();
    int width = image.format.header.biWidth;
    int height = image.format.header.biHeight;
    bool drawn = true;
    for (int top = 0; drawn && top < height; top += STRETCH_BAND_ROWS) {
        HRGN band = CreateRectRgn(0, top, width, std::min(height, top + STRETCH_BAND_ROWS));
        drawn = band && SelectClipRgn(dc, band) != ERROR;
        if (band)
            DeleteObject(band);
        drawn = drawn && StretchDIBits(dc, 0, 0, width, height, 0, 0, page.width,
                                       static_cast<int>(page.rows), bits, bitmap_info(page.info),
                                       DIB_RGB_COLORS, SRCCOPY) != 0;
    }
    DWORD error = GetLastError();
    SelectClipRgn(dc, nullptr);
    SetLastError(error);
    return drawn;
}

} // namespace

DibInfo fit_image_format(const BmpPage &page, int width, int height) {
    DibInfo format = {};
    DibHeader &header = format.header;
    header.biSize = BMP_INFO_HEADER_SIZE;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = page.info.header.biPlanes;
    header.biBitCount = page.info.header.biBitCount;
    header.biCompression = BMP_RGB;
    if (header.biBitCount <= 8)
        std::copy(std::begin(page.info.colours), std::end(page.info.colours), format.colours);
    return format;
}

// An image that a failed stretch may have left half drawn is not kept.
const void *stretch_into_fit_image(const DibInfo &format, const unsigned char *bits,
                                   const BmpPage &page) {
    if (!prepare_image(format))
        return nullptr;
    if (!stretch_in_bands(bits, page)) {
        release_keeping_error();
        return nullptr;
    }
    GdiFlush();
    return image.pixels;
}

void release_fit_image() {
    if (image.previous)
        SelectObject(image.dc.get(), image.previous);
    image.previous = nullptr;
    image.pixels = nullptr;
    image.section.reset();
    image.dc.reset();
}
