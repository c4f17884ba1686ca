// The start-print settings a job's request calls for on a printer.
#include <gtest/gtest.h>

#include "job_settings.h"

namespace {

// A4 (the default), Letter, a tray and a manual feed; duplex and colour;
// 300 and 600 dpi.
DriverChoices printer(bool duplex_and_colour) {
    DriverChoices c;
    c.media = {{"iso_a4_210x297mm", 9, 21000, 29700, 595u << 16 | 842u},
               {"na_letter_8.5x11in", 1, 21590, 27940, 612u << 16 | 792u}};
    c.resolutions = {{300, 300}, {600, 600}};
    c.default_resolution = {300, 300};
    c.sources = {{"auto", 0}, {"manual", 4}, {"tray-1", 260}};
    c.color = c.duplex = duplex_and_colour;
    return c;
}

} // namespace

TEST(JobSettings, TheRequestInTheDriversTerms) {
    using std::nullopt;
    const struct {
        const char *what;
        JobRequest request;
        bool duplex_and_colour;
        std::optional<uint32_t> paper, source, duplex, color, dpi;
    } cases[] = {
        // One case a row:
        // clang-format off
        {"A4 by name, the tray, long edge, colour, 600 dpi",
         {"iso_a4_210x297mm", 1, 1, "tray-1", SidesChoice::LONG_EDGE, true, 600, 600}, true,
         595u << 16 | 842u, 260u, 2u, 2u, 600u},
        {"a size by its dimensions; a source without a bin; short edge; monochrome",
         {"custom_x", 10000, 15000, "auto", SidesChoice::SHORT_EDGE, false, 300, 300}, true,
         283u << 16 | 425u, nullopt, 3u, 1u, 300u},
        {"a printer without duplex or colour: the driver's own",
         {"na_letter_8.5x11in", 0, 0, "manual", SidesChoice::LONG_EDGE, true, 300, 300}, false,
         612u << 16 | 792u, 4u, nullopt, nullopt, 300u},
        {"no size the record can hold, a source and resolution not offered",
         {"", 0, 29700, "top", SidesChoice::ONE_SIDED, true, 131372, 300}, true,
         nullopt, nullopt, 1u, 2u, nullopt},
        {"negative sides, an unequal resolution not offered",
         {"", -21000, 29700, "", SidesChoice::ONE_SIDED, false, 300, 600}, true,
         nullopt, nullopt, 1u, 1u, nullopt},
        {"a side beyond 65535 points", {"", 2311947, 29700, "", SidesChoice::ONE_SIDED}, true,
         nullopt, nullopt, 1u, 1u, nullopt},
        {"the largest side the record holds", {"", 2311946, 29700, "", SidesChoice::ONE_SIDED}, true,
         65535u << 16 | 842u, nullopt, 1u, 1u, nullopt},
        // clang-format on
    };
    for (const auto &c : cases) {
        JobSettings s = map_job_request(c.request, printer(c.duplex_and_colour));
        EXPECT_EQ(c.paper, s.paper) << c.what;
        EXPECT_EQ(c.source, s.paper_source) << c.what;
        EXPECT_EQ(c.duplex, s.duplex) << c.what;
        EXPECT_EQ(c.color, s.color) << c.what;
        EXPECT_EQ(c.dpi, s.x_dpi) << c.what;
        EXPECT_EQ(c.dpi, s.y_dpi) << c.what;
    }
}

TEST(JobSettings, OneMediaPerNameAndNoneUnderAPoint) {
    // A4 and a paper a tenth of a millimetre wider, which PWG also calls
    // A4; a paper a tenth of a millimetre wide (no point).
    DriverReport r;
    ASSERT_EQ("", parse_driver_report("paper\t9\t2100\t2970\t0\t0\t0\t0\t0\t0\t0\t0\tA4\n"
                                      "paper\t70\t2101\t2970\t0\t0\t0\t0\t0\t0\t0\t0\tA4 wide\n"
                                      "paper\t71\t1\t2970\t0\t0\t0\t0\t0\t0\t0\t0\tThread\n"
                                      "default\tpaper\t70\nend\n",
                                      r));
    DriverChoices c = choose_driver_settings(r);
    ASSERT_EQ(1u, c.media.size());
    EXPECT_EQ("iso_a4_210x297mm", c.media[0].pwg_name);
    EXPECT_EQ(595u << 16 | 842u, c.media[0].points); // the first wins
    EXPECT_EQ(0u, c.default_media);
}
