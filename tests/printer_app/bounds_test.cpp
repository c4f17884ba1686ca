// A job's bounds as options set them and as they decide.
#include <gtest/gtest.h>

#include "job_limits.h"

TEST(JobLimits, SetInTheirUnitsBadValuesNamedAndWhatEachEnds) {
    auto read = [](const std::string &text, JobLimits &limits) {
        cups_option_t *options = nullptr;
        int count = cupsParseOptions(text.c_str(), 0, &options);
        std::string error = read_job_limits(count, options, limits);
        cupsFreeOptions(count, options);
        return error;
    };
    JobLimits limits;
    ASSERT_EQ("", read("max-output=2 max-page=4095 max-pages=7 max-seconds=31536000 "
                       "stall-seconds=5",
                       limits));
    EXPECT_EQ(2u << 20, limits.max_output_bytes);
    EXPECT_EQ(uint64_t(4095) << 20, limits.max_page_bytes);
    EXPECT_EQ(7u, limits.max_pages);
    EXPECT_EQ(31536000u, limits.max_seconds);
    EXPECT_EQ(5u, limits.stall_seconds);
    EXPECT_EQ("-o max-page takes a whole number from 1 to 4095, not \"4096\"",
              read("max-page=4096", limits));
    for (std::string value : {"max-seconds=0", "max-pages=+5", "stall-seconds=-1", "max-output=3x",
                              "max-seconds=31536001", "max-pages=99999999999999999999"})
        EXPECT_NE(std::string::npos,
                  read(value, limits).find("not \"" + value.substr(value.find('=') + 1)))
            << value;
    EXPECT_EQ(uint64_t(4095) << 20, limits.max_page_bytes); // kept when refused
    limits.max_document_bytes = 100;
    EXPECT_EQ("", limit_passed(limits, 31535999, 2 << 20) + spool_problem(limits, 100, 4));
    EXPECT_EQ("the job ran for longer than 31536000 s", limit_passed(limits, 31536000, 0));
    EXPECT_EQ("the driver's output grew past 2 MiB", limit_passed(limits, 0, (2 << 20) + 1));
    EXPECT_EQ("the document is larger than 0 MiB", spool_problem(limits, 101, 0));
    EXPECT_EQ("the sender sent nothing for 5 s: the document is incomplete",
              spool_problem(limits, 0, 5));
}
