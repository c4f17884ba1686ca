// Drawing one accepted page on the job's open document (printer_dc).
#pragma once

#include "imaging/bmp_file.h"

// `file` holds the whole page file, checked into `page` by check_bmp_page;
// it stays the caller's. Nothing is reported back: a page that reached this
// point counts as printed, and drawing failures are only logged.
void print_bmp_page(const unsigned char *file, const BmpPage &page);
