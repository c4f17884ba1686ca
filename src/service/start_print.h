// The check of a start-print record, run before the job is accepted.
#pragma once

#include <cstdint>

#include "base/print_request.h"

// Answer statuses of the start-print handler besides the document start's.
enum : uint32_t {
    CHECK_NO_REQUEST = 1,
    CHECK_BAD_DATA_TYPE = 5,
    CHECK_PRINTER_NOT_OPENED = 8,
    CHECK_BAD_NAME = 9,
    CHECK_BAD_DUPLEX = 14,
    CHECK_NO_PAGES = 23,
    STATUS_PRINT_IN_PROGRESS = 21,
};

// 0 when the record may start a job, else the status of the first failed
// check, which is also logged. A name without its terminator inside its
// field is refused before anything reads it.
int check_req_header(const PrintRequest *request);
