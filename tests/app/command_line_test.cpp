// The command line is split exactly as the platform's CommandLineToArgvW
// splits it, checked against the real one over generated lines.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "app/command_line.h"

TEST(CommandLine, SplitsAsThePlatformDoes) {
    const wchar_t alphabet[] = L"a1 \t\"\\";
    std::mt19937 random(7);
    for (int round = 0; round < 5000; ++round) {
        std::wstring line;
        for (size_t n = random() % 12; n > 0; --n)
            line += alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)];
        if (line.empty())
            continue;
        int count = 0;
        LPWSTR *expected = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(nullptr, expected);
        std::vector<std::wstring> actual = split_command_line(line.c_str());
        ASSERT_EQ(size_t(count), actual.size()) << "line [" << testing::PrintToString(line) << "]";
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(std::wstring(expected[i]), actual[size_t(i)])
                << "entry " << i << " of [" << testing::PrintToString(line) << "]";
        LocalFree(expected);
    }
}
