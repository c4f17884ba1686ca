// tavri-print's command line and what it reads from a prefix: values that
// cannot work are refused by the option's name, those at the limits pass.
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "command_options.h"
#include "wine_registry.h"

TEST(CommandOptions, ValuesThatCannotWorkAreRefusedByName) {
    const struct {
        std::vector<std::string> args;
        std::string error; // empty: accepted
    } cases[] = {
        {{"--timeout", "-1", "a"},
         "argument --timeout: must be more than 0 and at most 86400 seconds"},
        {{"--timeout", "86400.5", "a"},
         "argument --timeout: must be more than 0 and at most 86400 seconds"},
        {{"--heartbeat", "20.5", "a"},
         "argument --heartbeat: must be more than 0 and at most 20 seconds"},
        {{"--heartbeat", "0", "a"},
         "argument --heartbeat: must be more than 0 and at most 20 seconds"},
        {{"--paper", "65536x1", "a"},
         "argument --paper: width and height must be 1 to 65535 points"},
        {{"--paper", "595", "a"},
         "argument --paper: expected WIDTHxHEIGHT in points, e.g. 595x842"},
        {{"--output", "C:\\windows\\win.ini", "a"},
         "argument --output: expected a file name relative to drive C:'s root, without a drive "
         "letter or .."},
        {{"--output", "out/../../x", "a"},
         "argument --output: expected a file name relative to drive C:'s root, without a drive "
         "letter or .."},
        {{"--output", "\\x", "a"},
         "argument --output: expected a file name relative to drive C:'s root, without a drive "
         "letter or .."},
        {{"--dpi", "9601", "a"}, "argument --dpi: must be 1 to 9600"},
        {{"--port", "x", "a"}, "argument --port: expected a number"},
        {{"--scale", "big", "a"},
         "argument --scale: invalid choice: 'big' (choose from 'auto', 'as-is', 'fit')"},
        {{"--duplex", "both", "a"},
         "argument --duplex: expected one of horizontal, long-edge, short-edge, simplex, "
         "vertical or a number"},
        {{"--color", "red", "a"}, "argument --color: expected color, grey or mono"},
        {{"--encoding", "no-such-code-page", "a"},
         "argument --encoding: unknown encoding 'no-such-code-page'"},
        {{"--pages", "3-1", "a"}, "argument --pages: page range '3-1' is empty"},
        {{"--overwrite=yes", "a"}, "argument --overwrite: ignored explicit argument 'yes'"},
        {{"--printer"}, "argument --printer: expected one argument"},
        {{"--co", "1", "a"}, "ambiguous option: --co"},
        {{"--nothing", "a"}, "unrecognized arguments: --nothing"},
        {{"--copies", "2"}, "the following arguments are required: FILE"},
        {{"--list"}, ""},
        {{"--quality", "-600", "--", "-a"}, ""},
    };
    for (const auto &c : cases) {
        CommandOptions options;
        EXPECT_EQ(c.error, parse_command_line(c.args, options)) << c.args[0];
    }
}

TEST(CommandOptions, ValuesAtTheLimitsAndByNameAreRead) {
    CommandOptions o;
    std::istringstream line("--output out\\a.ps --timeout 86400 --heart 20 --paper=65535x65535 "
                            "--duplex Short-Edge --quality high --collate off --color gray "
                            "--pages 2,5- --scale as-is x.pdf y.ps");
    std::vector<std::string> args{std::istream_iterator<std::string>(line), {}};
    ASSERT_EQ("", parse_command_line(args, o));
    EXPECT_EQ("out\\a.ps", o.output);
    EXPECT_EQ(86400, o.timeout);
    EXPECT_EQ(20, o.heartbeat);
    EXPECT_EQ(0xFFFFFFFFu, o.paper);
    EXPECT_EQ(3u, o.duplex);
    EXPECT_EQ(-4, o.quality);
    EXPECT_EQ(0u, o.collate);
    EXPECT_EQ(PageColour::GREY, o.color);
    EXPECT_EQ((std::vector<PageRange>{{2, 2}, {5, UINT32_MAX}}), o.ranges);
    EXPECT_EQ(ScaleChoice::AS_IS, o.scale);
    EXPECT_EQ((std::vector<std::string>{"x.pdf", "y.ps"}), o.files);
    EXPECT_FALSE(o.copies); // the printer's own
}

TEST(WineRegistry, TheDefaultPrinterAndAKeysValues) {
    std::string user = "[Software\\\\Microsoft\\\\Other] 1\n\"Device\"=\"Not this\"\n"
                       "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Windows] 1\n"
                       "\"Device\"=\"Office Laser,winspool,LPT1:\"\n[Next] 2\n\"Device\"=\"x\"\n";
    EXPECT_EQ("Office Laser", default_printer_in(user));
    EXPECT_EQ("", default_printer_in("[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion"
                                     "\\\\Windows] 1\n\"Device\"=\"\"\n"));
    EXPECT_EQ("", default_printer_in(""));
    auto values = registry_values("[a\\\\B] 1\n\"Tahoma\"=str(7):\"x\"\n", "A\\b");
    ASSERT_TRUE(values);
    EXPECT_EQ("str(7):\"x\"", values->at("tahoma"));
    EXPECT_FALSE(registry_values("[a] 1\n", "b"));
}
