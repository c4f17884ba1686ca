// The message catalogue: codes the server sends, the smallest body each
// needs before a handler sees it, and the bodies the dispatcher itself reads.
// Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint16_t {
    ACTION_START_PRINT = 1,
    ACTION_PAGE_FILENAME = 2,
    ACTION_SET_VALUE = 3,
    ACTION_DOCUMENT_PROPERTIES = 4,
    ACTION_DEVICE_PROPERTIES = 5,
    ACTION_END_JOB = 6,
    ACTION_SHUTDOWN = 7,
    ACTION_GET_PRINT_PAGE = 8,
    NOTIFY_PRINT_DONE = 0x3001,
    NOTIFY_HEARTBEAT = 0x3002,
    NOTIFY_CANCEL_PRINT_DONE = 0x3003,
};

// Statuses this part of the program answers with.
enum : uint32_t {
    STATUS_OK = 0,
    STATUS_INVALID = 1,
    STATUS_OTHER_JOB = 25,
    STATUS_NOT_IMPLEMENTED = 21,
};

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

// The page-size answer: status little-endian, then the low 16 bits of
// width and height big-endian.
constexpr size_t PAGE_SIZE_ANSWER_SIZE = 8;
void build_page_size_answer(unsigned char *out, uint32_t status, int width, int height);
