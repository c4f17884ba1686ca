// The check of a start-print record, run before the job is accepted.
#pragma once

#include <cstdint>

#include "base/print_request.h"
#include "base/protocol_codes.h"

// Besides the document start's, the start-print handler answers
// STATUS_INVALID (no record), STATUS_BAD_DATA_TYPE, STATUS_PRINTER_NOT_OPENED,
// STATUS_BAD_NAME, STATUS_BAD_DUPLEX, STATUS_BAD_PAGE_COUNT and STATUS_REFUSED
// (a job is active).

// 0 when the record may start a job, else the status of the first failed
// check, which is also logged. A name without its terminator inside its
// field is refused before anything reads it.
int check_req_header(const PrintRequest *request);
