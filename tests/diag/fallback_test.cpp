// The fallback primitives, as hosts without Wine's debug exports use them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"
#include "diag/log_line.h"
#include "support/debug_capture.h"

namespace {

void one_of_each_class() {
    FIXME_ON(dbch_printproxy, "f", "fixme line\n");
    ERR_ON(dbch_printproxy, "f", "err line\n");
    WARN_ON(dbch_printproxy, "f", "warn line\n");
    TRACE_ON(dbch_printproxy, "f", "trace line\n");
}

} // namespace

TEST(FallbackChannel, ClassesFollowPxq) {
    struct Row {
        const char *pxq;
        const char *expected;
    } rows[] = {
        {nullptr, "fixme line\nerr line\n"},
        {"trace+printproxy", "fixme line\nerr line\ntrace line\n"},
        {"printproxy", "fixme line\nerr line\nwarn line\ntrace line\n"},
        {"-all", ""},
        {"foo+printproxy", "fixme line\nerr line\n"},
        {"trace+printproxyxxxxx", "fixme line\nerr line\n"},
    };
    for (const Row &row : rows) {
        std::string out = capture_debug_output(row.pxq, one_of_each_class);
        std::string bodies;
        for (size_t start = 0; start < out.size();) {
            size_t end = out.find('\n', start);
            size_t blank = out.find(' ', start);
            bodies += out.substr(blank + 1, end - blank);
            start = end + 1;
        }
        EXPECT_EQ(row.expected, bodies) << "PXQ=" << (row.pxq ? row.pxq : "(unset)");
    }
}

TEST(FallbackChannel, OpenLineIsContinuedWithoutASecondHeader) {
    std::string out = capture_debug_output(nullptr, [] {
        FIXME_ON(dbch_printer, "set_devmode", "not support print dmColor, %d", 3);
        ERR_ON(dbch_printer, "set_devmode", "without YResolution\n");
        ERR_ON(dbch_printer, "set_devmode", "next\n");
    });
    EXPECT_EQ(debug_header("fixme", "set_devmode") + "not support print dmColor, 3" +
                  "without YResolution\n" + debug_header("err", "set_devmode") + "next\n",
              out);
}

// Thread, class, channel and function; a leading byte 1 drops all but the
// thread; the pid and timestamp channels put more in front.
TEST(FallbackChannel, HeaderForms) {
    std::string out =
        capture_debug_output(nullptr, [] { ERR_ON(dbch_printproxy, "wWinMain", "x %d\n", 5); });
    EXPECT_EQ(debug_header("err", "wWinMain") + "x 5\n", out);

    out = capture_debug_output(nullptr, [] { ERR_ON(dbch_printproxy, "f", "\1bare\n"); });
    char expected[64];
    snprintf(expected, sizeof(expected), "%04x:bare\n", unsigned(GetCurrentThreadId()));
    EXPECT_EQ(expected, out);

    out = capture_debug_output("trace+pid,trace+timestamp",
                               [] { ERR_ON(dbch_printproxy, "f", "x\n"); });
    snprintf(expected, sizeof(expected), "%04x:%04x:err:printproxy:f x\n",
             unsigned(GetCurrentProcessId()), unsigned(GetCurrentThreadId()));
    ASSERT_GT(out.size(), strlen(expected));
    EXPECT_EQ(expected, out.substr(out.size() - strlen(expected))) << out;
    EXPECT_EQ(':', out[out.find('.') + 4]) << "seconds.milliseconds: " << out;
}

TEST(FallbackChannel, ProgressLinesOnlyWithTrace) {
    auto progress = [] { LOG_PROGRESS("MainLoop", "%sClient running\n"); };
    EXPECT_EQ("", capture_debug_output(nullptr, progress));
    std::string out = capture_debug_output("trace+printproxy", progress);
    EXPECT_NE(std::string::npos, out.find("trace:printproxy:MainLoop [")) << out;
    EXPECT_NE(std::string::npos, out.find("] Client running\n")) << out;
}

TEST(FallbackStrings, RingKeepsThirtyTwoStrings) {
    debug_use_fallback_primitives();
    const char *first = fallback_strdup("first");
    for (int i = 0; i < 31; i++)
        fallback_strdup("filler");
    EXPECT_STREQ("first", first) << "still valid after 31 further strings";
}

TEST(QuoteHelpers, SpecialPointers) {
    EXPECT_STREQ("(null)", quote_ansi_string(nullptr));
    EXPECT_STREQ("#0007", quote_ansi_string(reinterpret_cast<const char *>(7)));
    void *guarded = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, guarded);
    EXPECT_STREQ("(invalid)", quote_ansi_string(static_cast<const char *>(guarded)));
    EXPECT_STREQ("(invalid)", quote_wide_string(static_cast<const wchar_t *>(guarded)));
    VirtualFree(guarded, 0, MEM_RELEASE);
    EXPECT_STREQ("L\"a\\\"b\"", quote_wide_string(L"a\"b"));
    EXPECT_STREQ("(null)", quote_wide_string(nullptr));
}
