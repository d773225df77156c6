// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "hexstr2int.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

namespace
{

struct hex_case {
    std::string text;
    std::uint32_t want;
};

class HexTable : public testing::TestWithParam<hex_case>
{
};

std::string case_name(const testing::TestParamInfo<hex_case> &info)
{
    return "case" + std::to_string(info.index);
}

TEST_P(HexTable, Converts)
{
    const auto &c = GetParam();
    EXPECT_EQ(static_cast<std::uint32_t>(hexstr2int(c.text.c_str())), c.want)
        << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Plain, HexTable,
                         testing::Values(hex_case{"", 0}, hex_case{"45", 0x45},
                                         hex_case{"ab", 0xAB}, hex_case{"ff", 0xFF},
                                         hex_case{"FF", 0xFF}, hex_case{"Ff", 0xFF},
                                         hex_case{"1ff", 0x1FF}, hex_case{"0123456789", 0x2345678A},
                                         hex_case{"deadBEEF", 0xDEADBEEF},
                                         hex_case{"ffffffff", 0xFFFFFFFF}),
                         case_name);

// Characters that are not digits add nothing but still take a place.
INSTANTIATE_TEST_SUITE_P(Lenient, HexTable,
                         testing::Values(hex_case{"0x45", 0x45}, hex_case{"0X45", 0x45},
                                         hex_case{"g", 0}, hex_case{"4g", 0x40},
                                         hex_case{"4 5", 0x405}, hex_case{"-1", 1},
                                         hex_case{"zz", 0}, hex_case{"xyz !@#~", 0},
                                         hex_case{"\x80", 0}, hex_case{"\xff", 0},
                                         hex_case{"4\xe9"
                                                  "5",
                                                  0x405},
                                         hex_case{"Gg:/@`[", 0}),
                         case_name);

// The ninth character from the right lands on the units place again, and the
// sum is an addition that wraps, not an or.
INSTANTIATE_TEST_SUITE_P(Wrapping, HexTable,
                         testing::Values(hex_case{"100000000", 1}, hex_case{"F0000000F", 0x1E},
                                         hex_case{"f00000000", 0xF}, hex_case{"1ffffffff", 0},
                                         hex_case{"ffffffffffffffff", 0xFFFFFFFE},
                                         hex_case{"10000000000000000", 1}),
                         case_name);

// A plain reference: Horner's rule in 64 bits over the digits, with the
// string cut into blocks of eight from the right and the blocks summed.
std::uint32_t reference(const std::string &s)
{
    std::uint64_t sum = 0;
    for (std::size_t end = s.size(); end > 0;) {
        const std::size_t begin = end >= 8 ? end - 8 : 0;
        std::uint64_t block = 0;
        for (std::size_t i = begin; i < end; i++) {
            const char c = s[i];
            int d = 0;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            block = block * 16 + static_cast<std::uint64_t>(d);
        }
        sum += block;
        end = begin;
    }
    return static_cast<std::uint32_t>(sum);
}

TEST(HexProperty, MatchesReferenceOnRandomText)
{
    std::mt19937 rng(20261208); // NOLINT(cert-msc32-c,cert-msc51-cpp): a failure must repeat
    const std::string alphabet = "0123456789abcdefABCDEFxXgz -+\t\x7f\x80\xc3\xff";
    std::uniform_int_distribution<std::size_t> length(0, 24);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int n = 0; n < 20000; n++) {
        std::string s(length(rng), ' ');
        std::generate(s.begin(), s.end(), [&] { return alphabet[pick(rng)]; });
        ASSERT_EQ(static_cast<std::uint32_t>(hexstr2int(s.c_str())), reference(s))
            << '"' << s << '"';
    }
}

} // namespace
