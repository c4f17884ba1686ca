#include <gtest/gtest.h>

#include <string>

#include "diag/log_format.h"

TEST(LogStamp, ZeroPaddedFields) {
    char stamp[LOG_STAMP_SIZE];
    EXPECT_EQ(26, format_log_stamp_at(stamp, {2024, 3, 5, 9, 7, 1, 42}));
    EXPECT_STREQ("[2024-03-05 09:07:01.042] ", stamp);
}

TEST(LogText, CutAt1023Characters) {
    char text[LOG_TEXT_SIZE];
    std::string long_message(2000, 'x');
    EXPECT_EQ(1023, format_log_text(text, "%s%s", "[stamp] ", long_message.c_str()));
    EXPECT_EQ(1023u, strlen(text));
    EXPECT_EQ(13, format_log_text(text, "%saction: %x\n", "", 0x3001));
    EXPECT_STREQ("action: 3001\n", text);
}
