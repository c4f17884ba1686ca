// Request handlers, called by the dispatcher on the main thread with a body
// of at least the catalogue's minimum length. Each returns non-zero to keep
// the session going and 0 to end it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/print_request.h"

int HandleStartPrint(PrintRequest *request, uint32_t req_id);
int HandlePageFilename(const unsigned char *body, size_t length, uint32_t req_id);
int HandleDocumentProperties(const unsigned char *body, size_t length, uint32_t req_id);
int HandleDeviceProperties(const unsigned char *body, size_t length, uint32_t req_id);
int HandleEndJob(uint32_t value, uint32_t req_id);
int HandleShutdown(uint32_t req_id);
int HandleGetPrintPage(const unsigned char *body, size_t length, uint32_t req_id);

// Action 3: the value has no effect; the request is acknowledged.
int HandleSetValue(uint32_t req_id);
