// Pure: builds natively, no windows.h.
// The start-print record: the 308-byte body of action 1.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PRINT_REQUEST_SIZE = 308;
constexpr size_t PRINTER_NAME_SIZE = 128;

// `fields` bits: which optional device settings the request carries.
enum : uint32_t {
    FIELD_COLLATE = 0x01,
    FIELD_COPIES = 0x02,
    FIELD_DUPLEX = 0x04,
    FIELD_PAPER_SOURCE = 0x08,
    FIELD_PAPER_SIZE = 0x10,
    FIELD_PRINT_QUALITY = 0x20,
    FIELD_Y_RESOLUTION = 0x40,
    FIELD_COLOR = 0x80,
};

enum : uint32_t { DATA_TYPE_BITMAP = 1, DATA_TYPE_TEXT = 2 };

// Held in host order once the dispatcher has converted it; the two names
// are narrow strings in the ANSI code page and are never converted.
struct PrintRequest {
    uint32_t job_id;
    char printer_name[PRINTER_NAME_SIZE];
    char output_file_name[PRINTER_NAME_SIZE];
    uint32_t fields;
    uint32_t collate;
    uint32_t copies;
    uint32_t duplex;
    uint32_t scale;
    uint32_t paper_source;
    uint32_t paper_size; // width in the high 16 bits, height in the low 16, in points
    int32_t print_quality;
    uint32_t y_resolution;
    uint32_t reserved1; // total number of pages of the job
    uint32_t color;
    uint32_t data_type;
};
static_assert(sizeof(PrintRequest) == PRINT_REQUEST_SIZE);
static_assert(offsetof(PrintRequest, fields) == 260);
static_assert(offsetof(PrintRequest, data_type) == 304);

// Converts the record's numeric fields from network order, in place.
void print_request_to_host(PrintRequest *request);

// Whether a fixed-size name field holds its NUL terminator.
bool name_field_terminated(const char (&field)[PRINTER_NAME_SIZE]);
