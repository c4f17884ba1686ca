#include "service/print_request.h"

#include <cstring>

#include "net/byte_order.h"

void print_request_to_host(PrintRequest *request) {
    request->job_id = be32_to_host(request->job_id);
    uint32_t *numbers = &request->fields;
    for (int i = 0; i < 12; i++)
        numbers[i] = be32_to_host(numbers[i]);
}

bool name_field_terminated(const char (&field)[PRINTER_NAME_SIZE]) {
    return memchr(field, 0, PRINTER_NAME_SIZE) != nullptr;
}
