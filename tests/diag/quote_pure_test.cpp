#include <gtest/gtest.h>

#include <string>

#include "diag/quote.h"

TEST(QuoteNarrow, Escapes) {
    EXPECT_EQ("\"a\\\"b\"", render_quoted_narrow("a\"b"));
    EXPECT_EQ("\"\\r\\n\\t\\\\\"", render_quoted_narrow("\r\n\t\\"));
    EXPECT_EQ("\"\\x01\\xff~ \"", render_quoted_narrow("\x01\xff~ "));
    EXPECT_EQ("\"\"", render_quoted_narrow(""));
}

TEST(QuoteNarrow, CutAfter291CharactersMarkedOnlyWhenTwoOrMoreAreLeft) {
    struct Row {
        size_t input;
        size_t rendered;
        bool dots;
    } rows[] = {{291, 291, false}, {292, 291, false}, {293, 291, true}, {400, 291, true}};
    for (const Row &row : rows) {
        std::string expected = "\"" + std::string(row.rendered, 'a') + "\"";
        if (row.dots)
            expected += "...";
        EXPECT_EQ(expected, render_quoted_narrow(std::string(row.input, 'a').c_str()))
            << row.input << " characters";
    }
}

TEST(QuoteNarrow, EscapesCountTowardTheLimit) {
    // Each byte renders as four characters; rendering stops once the output
    // passes 291, so 73 bytes are shown (1 + 73 * 4 = 293).
    std::string input(100, '\x01');
    std::string out = render_quoted_narrow(input.c_str());
    EXPECT_EQ(1 + 73 * 4 + 1 + 3, out.size()) << out;
}

TEST(QuoteWide, PrefixAndFourDigitEscapes) {
    EXPECT_EQ("L\"C:\\\\x\\4e2d\"", render_quoted_wide(u"C:\\x\u4e2d"));
    std::u16string long_text(400, u'b');
    std::string out = render_quoted_wide(long_text.c_str());
    EXPECT_EQ("L\"" + std::string(289, 'b') + "\"...", out);
}
