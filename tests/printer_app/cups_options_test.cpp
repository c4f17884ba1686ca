// A CUPS job's options, as a backend receives them, and the settings that
// stay ours.
#include <gtest/gtest.h>

#include "cups_options.h"

TEST(CupsOptions, TheSettingsThatStayOurs) {
    using C = CupsJobChoices;
    auto grey = PageColour::GREY, colour = PageColour::COLOR, mono = PageColour::MONO;
    const struct {
        const char *options;
        CupsJobChoices want;
    } rows[] = {
        {"", C{}},
        {"Duplex=DuplexTumble ColorModel=Gray Resolution=600dpi InputSlot=Bin260",
         C{3, grey, 600, 600, 260, {}}},
        {"sides=two-sided-long-edge print-color-mode=color print-quality=5",
         C{2, colour, -4, {}, {}, {}}},
        {"Resolution=300x600dpi print-color-mode=bi-level", C{{}, mono, 300, 600, {}, {}}},
        {"Resolution=0dpi InputSlot=Bin99999 sides=sideways Duplex=", C{}},
        {"Resolution=99999dpi InputSlot=Upper 'title=a b", C{}},
        {"Resolution=9600x9600dpi InputSlot=Bin32767", C{{}, {}, 9600, 9600, 32767, {}}},
        {"Resolution=9601dpi InputSlot=Bin32768 orientation-requested=4", C{}},
        {"resolution=300X300DPI print-quality=3", C{{}, {}, 300, 300, {}, {}}},
        {"print-quality=draft", C{{}, {}, -1, {}, {}, {}}},
        {"orientation-requested=6 sides=one-sided", C{1, {}, {}, {}, {}, {}}},
        {"media=Custom.100x150mm", C{{}, {}, {}, {}, {}, 283 << 16 | 425}},
        {"PageSize=Custom.8x4in", C{{}, {}, {}, {}, {}, 288 << 16 | 576}},
        {"media=Custom.0x4in PageSize=Custom.5x5furlong", C{}},
        {"media=Custom.1000x1000in", C{}},
    };
    for (const auto &row : rows)
        EXPECT_TRUE(row.want == read_cups_options(row.options)) << row.options;
}
