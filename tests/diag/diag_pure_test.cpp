// Quoting, progress-line formatting and the PXQ options: pure logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "diag/log_format.h"
#include "diag/pxq_options.h"
#include "diag/quote.h"

TEST(LogText, QuotedTextsStampAndLineAreCut) {
    EXPECT_EQ("\"a\\\"b\\r\\n\\t\\\\\\x01\\xff~ \"",
              render_quoted_narrow("a\"b\r\n\t\\\x01\xff~ "));
    EXPECT_EQ("L\"C:\\\\x\\4e2d\"", render_quoted_wide(u"C:\\x\u4e2d"));
    // Cut after 291 characters, marked only when two or more are left.
    EXPECT_EQ("\"" + std::string(291, 'a') + "\"",
              render_quoted_narrow(std::string(292, 'a').c_str()));
    EXPECT_EQ("\"" + std::string(291, 'a') + "\"...",
              render_quoted_narrow(std::string(293, 'a').c_str()));
    EXPECT_EQ(1 + 73 * 4 + 1 + 3, render_quoted_narrow(std::string(100, '\x01').c_str()).size())
        << "escapes count toward the limit";
    EXPECT_EQ("L\"" + std::string(289, 'b') + "\"...",
              render_quoted_wide(std::u16string(400, u'b').c_str()));
    char stamp[LOG_STAMP_SIZE];
    EXPECT_EQ(26, format_log_stamp_at(stamp, {2024, 3, 5, 9, 7, 1, 42}));
    EXPECT_STREQ("[2024-03-05 09:07:01.042] ", stamp);
    char text[LOG_TEXT_SIZE];
    for (int length : {1022, 1023, 1024, 2000}) { // cut at the last byte, never past it
        EXPECT_EQ(std::min(length, 1023),
                  format_log_text(text, "%s%s", "[stamp] ", std::string(length - 8, 'x').c_str()));
        EXPECT_EQ(size_t(std::min(length, 1023)), strlen(text));
    }
}

TEST(Pxq, OptionForms) {
    const struct {
        const char *text;
        int printproxy_flags; // -1: no entry
        int default_flags;
    } rows[] = {
        {nullptr, -1, 0x03},
        {"trace+printproxy", 0x0B, 0x03},
        {"printproxy", 0xFF, 0x03},
        {"-printproxy", 0x00, 0x03},
        {"err-printproxy", 0x01, 0x03},
        {"foo+printproxy", -1, 0x03},
        {"-all", -1, 0x00},
        {"warn+all,printproxy", 0xFF, 0x07},
        {"trace+printproxy,-all", 0x0B, 0x00},
        {"trace+printproxy,fixme-printproxy", 0x0A, 0x03},
        {"trace+abcdefghijklmn,trace+abcdefghijklmno,trace+printproxy", 0x0B, 0x03},
    };
    for (const auto &row : rows) {
        PxqConfig config = {-1, PXQ_DEFAULT_FLAGS, 0, nullptr};
        pxq_parse(&config, row.text);
        const PxqOption *option = pxq_find(&config, "printproxy");
        EXPECT_EQ(row.printproxy_flags, option ? option->flags : -1) << row.text;
        EXPECT_EQ(row.default_flags, config.default_flags) << row.text;
        if (row.text && strstr(row.text, "abcdefghijklmn")) {
            EXPECT_NE(nullptr, pxq_find(&config, "abcdefghijklmn")) << "14 characters are kept";
            EXPECT_EQ(nullptr, pxq_find(&config, "abcdefghijklmno")) << "15 are not";
        }
        free(config.options);
    }
}
