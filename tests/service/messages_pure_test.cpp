#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/messages.h"

namespace {

std::vector<unsigned char> notice(uint32_t status, uint32_t text_length, const std::string &text) {
    std::vector<unsigned char> body;
    for (uint32_t v : {status, text_length})
        for (int shift = 24; shift >= 0; shift -= 8)
            body.push_back(uint8_t(v >> shift));
    body.insert(body.end(), text.begin(), text.end());
    return body;
}

} // namespace

TEST(NoticeBody, TextOnlyWhenItLiesInsideTheBody) {
    struct Row {
        const char *name;
        uint32_t text_length;
        std::string text;
        bool present;
    } rows[] = {
        {"no text", 0, "", false},
        {"whole text", 4, "done", true},
        {"text shorter than claimed", 5, "done", false},
        {"length that would wrap", 0xFFFFFFFF, "abc", false},
        {"surplus after text", 2, "done", true},
    };
    for (const Row &row : rows) {
        auto body = notice(0xFFFFFFFD, row.text_length, row.text);
        Notice parsed = parse_notice(body.data(), body.size());
        EXPECT_EQ(-3, parsed.status) << row.name;
        EXPECT_EQ(row.present, parsed.text != nullptr) << row.name;
        if (row.present) {
            EXPECT_EQ(row.text.substr(0, row.text_length),
                      std::string(parsed.text, parsed.text_length))
                << row.name;
        }
    }
}

TEST(PageSizeAnswer, StatusLittleEndianSizesBigEndian) {
    unsigned char out[PAGE_SIZE_ANSWER_SIZE];
    build_page_size_answer(out, 0, 4960, 7016);
    EXPECT_EQ((std::vector<unsigned char>{0, 0, 0, 0, 0x13, 0x60, 0x1B, 0x68}),
              std::vector<unsigned char>(out, out + 8));
    build_page_size_answer(out, 25, 70000, 0);
    EXPECT_EQ((std::vector<unsigned char>{0x19, 0, 0, 0, 0x11, 0x70, 0, 0}),
              std::vector<unsigned char>(out, out + 8))
        << "70000 travels as its low 16 bits, 4464";
}

TEST(Catalogue, MinimumBodies) {
    struct Row {
        uint16_t code;
        int minimum;
    } rows[] = {{1, 308}, {2, 1}, {3, 4},      {4, 1},       {5, 1},      {6, 4},
                {7, -1},  {8, 1}, {0x3001, 8}, {0x3002, -1}, {0x3003, 8}, {0, -1}};
    for (const Row &row : rows)
        EXPECT_EQ(row.minimum, minimum_body_length(row.code)) << "code " << row.code;
}
