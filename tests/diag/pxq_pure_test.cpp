#include <gtest/gtest.h>

#include "diag/pxq_options.h"

namespace {

struct Parsed {
    PxqConfig config = {-1, PXQ_DEFAULT_FLAGS, 0, nullptr};
    explicit Parsed(const char *text) { pxq_parse(&config, text); }
    ~Parsed() { free(config.options); }
    int flags(const char *channel) const {
        const PxqOption *option = pxq_find(&config, channel);
        return option ? option->flags : -1;
    }
};

} // namespace

TEST(Pxq, UnsetLeavesDefaultsAndNoEntries) {
    Parsed parsed(nullptr);
    EXPECT_EQ(0, parsed.config.count);
    EXPECT_EQ(0x03, parsed.config.default_flags);
}

TEST(Pxq, OptionForms) {
    struct Row {
        const char *text;
        int printproxy_flags; // -1: no entry
        int default_flags;
    } rows[] = {
        {"trace+printproxy", 0x0B, 0x03},
        {"printproxy", 0xFF, 0x03},
        {"+printproxy", 0xFF, 0x03},
        {"-printproxy", 0x00, 0x03},
        {"err-printproxy", 0x01, 0x03},
        {"foo+printproxy", -1, 0x03},
        {"-all", -1, 0x00},
        {"+all", -1, 0xFF},
        {"trace+", -1, 0x03},
        {"warn+all,printproxy", 0xFF, 0x07},
        {"-all,trace+printproxy", 0x08, 0x00},
        {"trace+printproxy,-all", 0x0B, 0x00},
        {"trace+printproxy,fixme-printproxy", 0x0A, 0x03},
        {"trace+abcdefghijklmnop", -1, 0x03},
    };
    for (const Row &row : rows) {
        Parsed parsed(row.text);
        EXPECT_EQ(row.printproxy_flags, parsed.flags("printproxy")) << row.text;
        EXPECT_EQ(row.default_flags, parsed.config.default_flags) << row.text;
    }
}

TEST(Pxq, FourteenCharacterNamesAreKeptFifteenAreNot) {
    Parsed parsed("trace+abcdefghijklmn,trace+abcdefghijklmno");
    EXPECT_EQ(0x0B, parsed.flags("abcdefghijklmn"));
    EXPECT_EQ(-1, parsed.flags("abcdefghijklmno"));
}

TEST(Pxq, ManyChannelsStaySortedAndFindable) {
    std::string text;
    for (int i = 40; i >= 0; i--)
        text += "trace+ch" + std::to_string(i) + ",";
    Parsed parsed(text.c_str());
    ASSERT_EQ(41, parsed.config.count);
    for (int i = 1; i < parsed.config.count; i++)
        EXPECT_LT(strcmp(parsed.config.options[i - 1].name, parsed.config.options[i].name), 0);
    for (int i = 0; i <= 40; i++)
        EXPECT_EQ(0x0B, parsed.flags(("ch" + std::to_string(i)).c_str())) << i;
}
