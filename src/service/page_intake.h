// Action 2: one page of the running job, as a BMP file named by its unix path.
// HandlePageFilename itself is declared with the other handlers.
#pragma once

#include <cstdint>

#include "base/protocol_codes.h"

// The page reply (0x1002) answers STATUS_OK, STATUS_INVALID (no document,
// or no terminated path in the body), STATUS_IO_FAILED, STATUS_OUT_OF_MEMORY,
// STATUS_NOT_BMP (also a BMP whose headers do not fit the file),
// STATUS_DOCUMENT_NOT_STARTED or STATUS_NO_BODY.

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
