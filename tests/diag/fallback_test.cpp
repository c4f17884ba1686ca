// The debug channel's fallback primitives, used where Wine's are missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"
#include "diag/log_line.h"
#include "support/rig.h"

TEST(FallbackChannel, ClassesHeadersOpenLinesKeptStringsAndQuotedPointers) {
    auto id = [](DWORD value) {
        char text[16];
        snprintf(text, sizeof(text), "%04x:", unsigned(value));
        return std::string(text);
    };
    const char *rows[][2] = {{nullptr, "fixme err "},
                             {"trace+printproxy", "fixme err trace "},
                             {"printproxy", "fixme err warn trace "},
                             {"-all", ""}};
    for (const auto &row : rows) {
        std::string out = capture_debug_output(row[0], [] {
            FIXME_ON(dbch_printproxy, "f", "fixme ");
            ERR_ON(dbch_printproxy, "f", "err ");
            WARN_ON(dbch_printproxy, "f", "warn ");
            TRACE_ON(dbch_printproxy, "f", "trace ");
        });
        // One open line: only its first message has a header.
        std::string header = *row[1] ? id(GetCurrentThreadId()) + "fixme:printproxy:f " : "";
        EXPECT_EQ(header + row[1], out) << "PXQ=" << (row[0] ? row[0] : "(unset)");
    }
    std::string out = capture_debug_output(nullptr, [] {
        ERR_ON(dbch_printer, "wWinMain", "x %d\n", 5);
        ERR_ON(dbch_printproxy, "f", "\1bare\n");
        LOG_PROGRESS("MainLoop", "%sClient running\n");
    });
    std::string thread = id(GetCurrentThreadId());
    EXPECT_EQ(thread + "err:printproxy:wWinMain x 5\n" + thread + "bare\n", out);
    std::string name(250, 'f'); // the header is cut to its buffer
    out = capture_debug_output(nullptr, [&] { ERR_ON(dbch_printproxy, name.c_str(), "x\n"); });
    EXPECT_EQ((thread + "err:printproxy:" + name).substr(0, 199) + "x\n", out);
    out = capture_debug_output("trace+pid,trace+timestamp,trace+printproxy",
                               [] { LOG_PROGRESS("MainLoop", "%sClient running\n"); });
    EXPECT_TRUE(
        contains(out, ":" + id(GetCurrentProcessId()) + thread + "trace:printproxy:MainLoop ["))
        << out;
    EXPECT_TRUE(contains(out, "] Client running\n")) << out;
    EXPECT_EQ(':', out[out.find('.') + 4]) << "seconds.milliseconds: " << out;

    const char *first = fallback_strdup("first");
    for (int i = 0; i < 31; i++)
        fallback_strdup("filler");
    EXPECT_STREQ("first", first) << "still kept after 31 further strings";
    EXPECT_STREQ("(null)", quote_ansi_string(nullptr));
    EXPECT_STREQ("#0007", quote_ansi_string(reinterpret_cast<const char *>(7)));
    void *guarded = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    EXPECT_STREQ("(invalid)", quote_ansi_string(static_cast<const char *>(guarded)));
    EXPECT_STREQ("(invalid)", quote_wide_string(static_cast<const wchar_t *>(guarded)));
    VirtualFree(guarded, 0, MEM_RELEASE);
}
