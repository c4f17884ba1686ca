// Pure: builds natively, no windows.h.
// The buffer that a job's page files are read into. Pages of one job are
// mostly of one size, and a buffer allocated afresh for every page costs the
// kernel a fault for each of its memory pages (about 25 ms for an A4 page at
// 300 dpi, a tenth of what the driver takes to print it); so one buffer
// serves the whole job and is released when the job ends.
#pragma once

#include <cstddef>

// A buffer of at least `size` bytes, valid until the next call or
// release_page_buffer; null when it cannot be allocated. A page larger than
// the buffer releases it before allocating its own: the job never holds two.
unsigned char *page_buffer(size_t size);

void release_page_buffer();
