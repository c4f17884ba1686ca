// Pure: builds natively, no windows.h.
#include "base/print_request.h"

#include <cstring>
#include <initializer_list>

#include "base/byte_order.h"

void print_request_to_host(PrintRequest *request) {
    for (uint32_t *field :
         {&request->job_id, &request->fields, &request->collate, &request->copies, &request->duplex,
          &request->scale, &request->paper_source, &request->paper_size, &request->y_resolution,
          &request->reserved1, &request->color, &request->data_type})
        *field = be32_to_host(*field);
    request->print_quality =
        static_cast<int32_t>(be32_to_host(static_cast<uint32_t>(request->print_quality)));
}

bool name_field_terminated(const char (&field)[PRINTER_NAME_SIZE]) {
    return memchr(field, 0, PRINTER_NAME_SIZE) != nullptr;
}
