// Drawing pages on the rig's PostScript printer: every supported kind of page
// draws whole, the placement follows scale and size, and a page that cannot
// start is skipped. What the pages look like is checked end to end
// (tests/e2e/test_pages.py).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "service/bmp_builder.h"
#include "base/job_state.h"
#include "service/page_job.h"
#include "support/debug_capture.h"

namespace {

const char FUNCTION[] = "HandlePageFilename";

class PageRender : public PageJob {};

TEST_F(PageRender, EveryKindOfPageIsDrawnWhole) {
    struct Row {
        const char *name;
        BmpLayout layout;
    };
    auto layout = [](int32_t height, uint16_t bits, std::vector<uint32_t> table = {},
                     uint32_t compression = 0, uint32_t info_size = 40) {
        BmpLayout s;
        s.width = 37;
        s.height = height;
        s.bits = bits;
        s.table = table;
        s.compression = compression;
        s.info_size = info_size;
        return s;
    };
    const Row rows[] = {
        {"24 bits, bottom-up", layout(21, 24)},
        {"24 bits, top-down", layout(-21, 24)},
        {"32 bits, top-down", layout(-21, 32)},
        {"16 bits, bit fields", layout(21, 16, {0xF800, 0x07E0, 0x001F}, 3)},
        {"8 bits, 3 colours", layout(21, 8, {0xFF0000, 0x00FF00, 0x0000FF})},
        {"4 bits, V5 header", layout(21, 4, {0xFF0000, 0x0000FF}, 0, 124)},
        {"1 bit, top-down", layout(-21, 1, {0x000000, 0xFFFFFF})},
    };
    ASSERT_NO_FATAL_FAILURE(open_job(100));
    uint32_t req_id = 1;
    for (const Row &row : rows) {
        std::string path = write_page("kind.bmp", build_bmp(row.layout));
        QueuedPacket reply;
        std::string out = capture_debug_output(nullptr, [&] { reply = send_page(path, req_id++); });
        EXPECT_EQ(reply.status, 0u) << row.name;
        EXPECT_EQ(out, "") << row.name << ": the page drew all its lines; actual output: " << out;
    }
}

TEST_F(PageRender, ScaleAndSizeChooseHowThePageIsDrawn) {
    ASSERT_NO_FATAL_FAILURE(open_job(100, 1));
    const int physical_width = GetDeviceCaps(printer_dc, PHYSICALWIDTH);
    const int physical_height = GetDeviceCaps(printer_dc, PHYSICALHEIGHT);
    struct Row {
        const char *name;
        uint32_t scale;
        int32_t width;
        int32_t height;
        bool converted;
    };
    // 1-bit pages keep the physical-size files small.
    const Row rows[] = {
        {"as-is, larger than the page", 0, physical_width + 50, 40, false},
        {"page size, +9 and -9", 1, physical_width + 9, physical_height - 9, false},
        {"fit, 10 wider than the page", 1, physical_width + 10, physical_height, true},
        {"fit, small", 1, 40, 30, true},
    };
    uint32_t req_id = 1;
    for (const Row &row : rows) {
        current_job->scale = row.scale;
        BmpLayout layout;
        layout.width = row.width;
        layout.height = row.height;
        layout.bits = 1;
        layout.table = {0x000000, 0xFFFFFF};
        std::string path = write_page("placement.bmp", build_bmp(layout));
        std::string out = capture_debug_output("trace+printproxy,err+printproxy",
                                               [&] { send_page(path, req_id++); });
        char progress[256];
        snprintf(progress, sizeof(progress),
                 "] scale %u bmp width %d, height %d, nPrinterWidth %d, nPrinterHeight %d "
                 "remaining %d/100 pages, %d %d, %d %d\n",
                 row.scale, row.width, row.height, GetDeviceCaps(printer_dc, HORZRES),
                 GetDeviceCaps(printer_dc, VERTRES), pages_received, physical_width,
                 physical_height, GetDeviceCaps(printer_dc, PHYSICALOFFSETX),
                 GetDeviceCaps(printer_dc, PHYSICALOFFSETY));
        size_t line = out.find(progress);
        EXPECT_NE(line, std::string::npos) << row.name << ": actual output: " << out;
        std::string convert = debug_header("err", FUNCTION) + "should not convert the image.\n";
        size_t converting = out.find(convert);
        EXPECT_EQ(converting != std::string::npos, row.converted)
            << row.name << ": actual output: " << out;
        if (row.converted) {
            EXPECT_GT(converting, line) << row.name;
            EXPECT_NE(out.find("] print finish.\n", converting), std::string::npos)
                << row.name << ": actual output: " << out;
        }
        EXPECT_FALSE(contains(out, "StartPage failed")) << row.name << ": " << out;
        EXPECT_FALSE(contains(out, "print failed")) << row.name << ": " << out;
    }
}

TEST_F(PageRender, PageThatCannotStartIsSkippedButCounted) {
    ASSERT_NO_FATAL_FAILURE(open_job(100));
    // A device context that no longer exists: StartPage fails.
    HDC document = printer_dc;
    HDC gone = CreateCompatibleDC(nullptr);
    DeleteDC(gone);
    printer_dc = gone;
    std::string path = write_page("skipped.bmp", build_bmp({}));
    QueuedPacket reply;
    std::string out = capture_debug_output(nullptr, [&] { reply = send_page(path, 7); });
    printer_dc = document;
    EXPECT_EQ(reply.status, 0u) << "drawing failures are not reported";
    EXPECT_EQ(pages_printed, 1);
    EXPECT_TRUE(contains(out, debug_header("err", FUNCTION) + "StartPage failed, "))
        << "actual output: " << out;
    EXPECT_EQ(job_state.load(), uint32_t(JOB_STATE_DOC_STARTED)) << "no page was started";
}

} // namespace
