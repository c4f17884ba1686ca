// The image that fit mode stretches a page into before it goes to the
// printer: the printable area's size, in the page's own format. The job keeps
// it from one page to the next.
#pragma once

#include <windows.h>

#include <cstddef>

#include "imaging/bmp_file.h"

// The file's header and colour table, laid out as the platform's record.
static_assert(sizeof(DibHeader) == sizeof(BITMAPINFOHEADER));
static_assert(offsetof(DibHeader, biBitCount) == offsetof(BITMAPINFOHEADER, biBitCount));
static_assert(offsetof(DibHeader, biClrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));
static_assert(offsetof(DibInfo, colours) == offsetof(BITMAPINFO, bmiColors));

inline const BITMAPINFO *bitmap_info(const DibInfo &info) {
    return reinterpret_cast<const BITMAPINFO *>(&info);
}

// The format of the image for `page` on a printable area of width x height:
// the page's bit depth and, for palette depths, its colour table, so that no
// colour is remapped.
DibInfo fit_image_format(const BmpPage &page, int width, int height);

// Stretches the page's pixels over the whole image of `format`, made or kept
// for the job, and returns the image's pixels; null when that failed, with
// the last-error value of the call that failed.
const void *stretch_into_fit_image(const DibInfo &format, const unsigned char *bits,
                                   const BmpPage &page);

// Releases the job's image; the end of every job calls it.
void release_fit_image();
