// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The line as a logic analyser records it: what sigrok's UART decoder reads
// back from dumps of characters in framings the panel's own read-back does
// not reach, and a dump that could not be written whole.
#include "process.h"
#include "vcd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

constexpr wire_format F8N1{};
constexpr wire_format F8O2{19200, 8, 'O', 2};

class temp_dir
{
  public:
    temp_dir()
    {
        std::string pattern = testing::TempDir() + "vcd_test.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~temp_dir()
    {
        if (!path_.empty())
            std::system(("rm -rf '" + path_ + "'").c_str()); // NOLINT(cert-env33-c)
    }
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    [[nodiscard]] std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

TEST(VcdWriter, SaysWhenTheDumpWasNotWrittenWhole)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    vcd_writer w;
    ASSERT_TRUE(w.open("/dev/full")); // buffered: the header fails on flushing
    for (int i = 0; i < 1000; ++i)
        w.byte(0x55, i * 1'000'000LL, F8N1);
    errno = 0;
    EXPECT_FALSE(w.close(0));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(w.is_open());
}

// The changes in a dump: each time, in units, with the level from then on.
std::vector<std::pair<long long, int>> changes_in(const std::string &path)
{
    std::vector<std::pair<long long, int>> changes;
    std::FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr)
        return changes;
    char line[128];
    long long at = -1;
    bool body = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (!body) {
            body = std::string(line).find("$enddefinitions") != std::string::npos;
        } else if (line[0] == '#') {
            at = std::strtoll(line + 1, nullptr, 10);
        } else if (line[0] == '0' || line[0] == '1') {
            changes.emplace_back(at, line[0] - '0');
        }
    }
    std::fclose(f);
    return changes;
}

// A character shifted out into a break shows from the break's end: where
// that end meets a low bit the line stays low, with no glitch of no width,
// and the rest of the character follows with its own edges. 44 is low for
// the start bit and two data bits, then 1 0 0 0 1 0 and the stop bit.
TEST(VcdWriter, ShowsTheRestOfACharacterFromABreaksEnd)
{
    temp_dir dir;
    const std::string path = dir.file("rest.vcd");
    constexpr long long START_NS = 1'000'000;
    constexpr long long BIT_NS = 1'000'000'000 / 19200;
    {
        vcd_writer w;
        ASSERT_TRUE(w.open(path));
        w.low(START_NS, START_NS + 3 * BIT_NS / 2);
        w.byte(0x44, START_NS, F8N1, START_NS + 3 * BIT_NS / 2);
        ASSERT_TRUE(w.close(START_NS + 20 * BIT_NS));
    }
    EXPECT_EQ(changes_in(path),
              (std::vector<std::pair<long long, int>>{
                  {0, 1}, {10000, 0}, {11563, 1}, {12083, 0}, {13646, 1}, {14167, 0}, {14688, 1}}));
}

// Read back by sigrok's UART decoder, through tests/vcd_decode.sh.

struct burst {
    long long start_ns;
    bytes data; // back to back
};

struct decode_case {
    const char *name;
    wire_format sent;
    std::vector<burst> bursts;
    const char *read_as; // "BAUD FORMAT"
    std::string bytes;   // in hexadecimal
    enum {
        clean,   // the decoder reads bytes and nothing wrong
        flagged, // it reads bytes, and framing or parity errors
    } outcome;
};

void write_bursts(vcd_writer &w, const wire_format &f, const std::vector<burst> &bursts)
{
    const double char_ns = char_bits(f) * 1e9 / static_cast<double>(f.baud);
    for (const auto &b : bursts)
        for (std::size_t i = 0; i < b.data.size(); ++i)
            w.byte(b.data[i], b.start_ns + std::llround(static_cast<double>(i) * char_ns), f);
}

bool have_sigrok()
{
    return std::system("command -v sigrok-cli >/dev/null 2>&1") == 0; // NOLINT(cert-env33-c)
}

class Decoded : public testing::TestWithParam<decode_case>
{
};

TEST_P(Decoded, ReadsBackTheBytesSent)
{
    const auto &c = GetParam();
    if (!have_sigrok())
        GTEST_SKIP() << "sigrok-cli is not installed";
    temp_dir dir;
    const std::string path = dir.file("line.vcd");
    {
        vcd_writer w;
        ASSERT_TRUE(w.open(path));
        write_bursts(w, c.sent, c.bursts);
        ASSERT_TRUE(w.close(c.bursts.back().start_ns + 10'000'000));
    }
    process p({VCD_DECODE, path, c.read_as});
    const outcome o = p.wait(120'000);
    ASSERT_EQ(o.status, c.outcome == decode_case::clean ? 0 : 1) << o.out << o.err;
    const std::size_t eol = o.out.find('\n');
    ASSERT_NE(eol, std::string::npos) << o.out;
    const std::string read = o.out.substr(0, eol);
    const std::string errors = o.out.substr(eol + 1);
    EXPECT_EQ(read, c.bytes) << o.out;
    if (c.outcome == decode_case::clean) {
        EXPECT_EQ(errors, "") << o.out;
    } else {
        EXPECT_NE(errors, "") << o.out;
    }
}

const bytes CONTROL = {0x0a, 0x0d, 0x11, 0x13, 0x00, 0xff, 0x00, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Lines, Decoded,
    testing::Values(decode_case{"odd_two_stop",
                                F8O2,
                                {{1'000'000, CONTROL}},
                                "19200 8O2",
                                "0a 0d 11 13 00 ff 00 00",
                                decode_case::clean},
                    // Odd parity read as even: every byte is right, every parity bit wrong.
                    decode_case{"odd_read_as_even",
                                F8O2,
                                {{1'000'000, {0x00, 0x01}}},
                                "19200 8E2",
                                "00 01",
                                decode_case::flagged},
                    // Back to back, 7N1 read as 8N1 takes the next start bit for the stop bit.
                    decode_case{"seven_none_read_as_8N1",
                                {19200, 7, 'N', 1},
                                {{1'000'000, {0x00, 0x00}}},
                                "19200 8N1",
                                "80",
                                decode_case::flagged},
                    decode_case{"mark_five_bits",
                                {1200, 5, 'M', 2},
                                {{1'000'000, {0x1f, 0x15, 0xe0}}},
                                "1200 5M2",
                                "1f 15 00",
                                decode_case::clean},
                    decode_case{"space_six_bits",
                                {115200, 6, 'S', 1},
                                {{1'000'000, {0x3f, 0x2a, 0xc0}}},
                                "115200 6S1",
                                "3f 2a 00",
                                decode_case::clean}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

} // namespace
