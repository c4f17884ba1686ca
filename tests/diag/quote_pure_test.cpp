#include <gtest/gtest.h>

#include <string>

#include "diag/quote.h"

TEST(QuoteNarrow, EscapesQuoteAndBackslash) {
    EXPECT_EQ("\"a\\\"b\"", render_quoted_narrow("a\"b"));
}
