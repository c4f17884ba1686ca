// Pure: builds natively, no windows.h.
// What the dispatcher knows of the server's messages: the smallest body each
// needs before a handler sees it, and the bodies the dispatcher itself reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/protocol_codes.h"

// Smallest body a message needs before it is handled; shorter (or absent)
// bodies are dropped without an answer. -1: the code has no minimum.
int minimum_body_length(uint16_t code);

// Notice body of 0x3001 and 0x3003: status, text length, text.
struct Notice {
    int32_t status;
    const char *text; // null when absent; not terminated
    uint32_t text_length;
};

// Requires length >= 8. The text is present only when its length is
// non-zero and lies wholly inside the body.
Notice parse_notice(const unsigned char *body, size_t length);

// The page-size answer: status little-endian, then width and height as
// 16-bit big-endian numbers.
constexpr size_t PAGE_SIZE_ANSWER_SIZE = 8;
// True when both sizes fit the answer's 16-bit fields.
bool page_size_fits_answer(int width, int height);
// The 8-byte answer to action 8; a size that does not fit is answered with
// status 1 and zero sizes.
void build_page_size_answer(unsigned char *out, uint32_t status, int width, int height);
