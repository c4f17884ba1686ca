// Pure: builds natively, no windows.h.
#include "service/messages.h"

#include "base/byte_order.h"
#include "base/print_request.h"

int minimum_body_length(uint16_t code) {
    switch (code) {
    case ACTION_START_PRINT:
        return static_cast<int>(PRINT_REQUEST_SIZE);
    case ACTION_PAGE_FILENAME:
    case ACTION_DOCUMENT_PROPERTIES:
    case ACTION_DEVICE_PROPERTIES:
    case ACTION_GET_PRINT_PAGE:
        return 1;
    case ACTION_SET_VALUE:
    case ACTION_END_JOB:
        return 4;
    case NOTIFY_PRINT_DONE:
    case NOTIFY_CANCEL_PRINT_DONE:
        return 8;
    default:
        return -1;
    }
}

Notice parse_notice(const unsigned char *body, size_t length) {
    Notice notice = {static_cast<int32_t>(read_be32(body)), nullptr, read_be32(body + 4)};
    if (notice.text_length != 0 && notice.text_length <= length - 8)
        notice.text = reinterpret_cast<const char *>(body + 8);
    else
        notice.text_length = 0;
    return notice;
}

bool page_size_fits_answer(int width, int height) {
    return width >= 0 && width <= 0xFFFF && height >= 0 && height <= 0xFFFF;
}

void build_page_size_answer(unsigned char *out, uint32_t status, int width, int height) {
    // Low 16 bits of a larger size would have the server draw a strip of
    // the page and report success: such a size is refused instead.
    const bool fits = page_size_fits_answer(width, height);
    write_le32(out, fits ? status : STATUS_INVALID);
    write_be16(out + 4, static_cast<uint16_t>(fits ? width : 0));
    write_be16(out + 6, static_cast<uint16_t>(fits ? height : 0));
}
