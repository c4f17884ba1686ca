// Action 2: one page of the running job, as a BMP file named by its unix path.
// HandlePageFilename itself is declared with the other handlers.
#pragma once

#include <cstdint>

// Statuses of the page reply (0x1002).
enum : uint32_t {
    PAGE_PRINTED = 0,
    PAGE_NO_DOCUMENT = 1,
    PAGE_BAD_PATH = 1, // the body holds no terminated path
    PAGE_FILE_FAILED = 6,
    PAGE_NO_MEMORY = 11,
    PAGE_NOT_BMP = 15, // also a BMP whose headers do not fit the file
    PAGE_DOCUMENT_NOT_STARTED = 20,
    PAGE_NO_BODY = 24,
};

// Reads the whole file with one read into the job's page buffer
// (page_buffer.h), which *out_buffer then points to; it stays valid until the
// next page is read or the job's page resources are released. Returns 0, or 1
// (no path or no buffer pointer), 6 (file cannot be mapped, opened or read
// whole; empty) or 11 (no memory). out_size may be null.
int read_one_fram_bmp_from_file(const char *unix_path, unsigned char **out_buffer,
                                uint32_t *out_size);

// Releases what a job keeps from one page to the next (the page buffer and
// the fit mode's image); every end of a job calls it.
void release_page_resources();
