// SPDX-License-Identifier: MIT
#include "frames.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <string>
#include <termios.h>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

line_settings line(long baud, const char *framing = "8N1", unsigned oflag = 0, unsigned iflag = 0,
                   unsigned cflag = 0)
{
    line_settings s;
    s.baud = baud;
    s.data_bits = framing[0] - '0';
    s.parity = framing[1];
    s.stop_bits = framing[2] - '0';
    s.oflag = oflag;
    s.iflag = iflag;
    s.cflag = cflag;
    return s;
}

const line_settings GOOD = line(19200);

line_settings unknown(line_settings s)
{
    s.known = false;
    return s;
}

struct settings_case {
    const char *name;
    line_settings settings;
    std::string said;
    std::vector<std::string> faults;
};

class Settings : public testing::TestWithParam<settings_case>
{
};

TEST_P(Settings, AreDescribedAndJudged)
{
    const auto &c = GetParam();
    EXPECT_EQ(describe(c.settings), c.said);
    EXPECT_EQ(settings_faults(c.settings), c.faults);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Settings,
    testing::Values(
        settings_case{"clean", GOOD, "19200 8N1 raw", {}},
        settings_case{"slow", line(9600), "9600 8N1 raw", {"speed 9600, not 19200"}},
        settings_case{
            "seven_even", line(19200, "7E1"), "19200 7E1 raw", {"7 data bits", "parity E"}},
        settings_case{
            "odd_two_stop", line(19200, "8O2"), "19200 8O2 raw", {"parity O", "2 stop bits"}},
        settings_case{"output_processing",
                      line(19200, "8N1", OPOST | ONLCR),
                      "19200 8N1 opost onlcr",
                      {"output processing on"}},
        settings_case{"flow_control",
                      line(19200, "8N1", 0, IXON | IXOFF, CRTSCTS),
                      "19200 8N1 ixon ixoff crtscts",
                      {"RTS/CTS flow control", "XON/XOFF flow control"}},
        settings_case{
            "all_wrong",
            line(38400, "7E1", OPOST),
            "38400 7E1 opost",
            {"speed 38400, not 19200", "7 data bits", "parity E", "output processing on"}},
        // What the panel could not see is never clean, whatever the line says.
        settings_case{"unknown", unknown(GOOD), "19200 ??1 raw", {"settings unknown"}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A wire and the panel's monitor behind it, with every report they made.
struct line_under_test {
    line_under_test(const line_settings &s, bool at_arrival) : w(s, at_arrival) {}
    void keep(const std::vector<sent_byte> &sent)
    {
        for (const auto &b : sent) {
            const auto reports = m.take(b);
            got.insert(got.end(), reports.begin(), reports.end());
        }
    }
    wire w;
    frame_monitor m;
    std::vector<line_report> got;
};

// Bytes written in chunks at given times (ms) to a line at 19200 8N1, then
// the line left quiet.
struct chunk {
    long long at;
    bytes data;
};

struct burst_case {
    const char *name;
    std::vector<chunk> chunks;
    std::vector<std::pair<std::size_t, std::vector<std::string>>> reports; // size, problems
};

class Bursts : public testing::TestWithParam<burst_case>
{
};

TEST_P(Bursts, AreCutIntoFrames)
{
    const auto &c = GetParam();
    line_under_test t(GOOD, false);
    wire &w = t.w;
    frame_monitor &m = t.m;
    std::vector<line_report> &got = t.got;
    const auto keep = [&](const std::vector<sent_byte> &sent) { t.keep(sent); };
    for (const auto &ch : c.chunks)
        keep(w.arrive(ch.data, ch.at * NS_PER_MS));
    const long long end = w.idle_at();
    keep(w.advance(end));
    EXPECT_TRUE(m.idle(end + FRAME_GAP_MS * NS_PER_MS - 1).empty());
    const auto last = m.idle(end + FRAME_GAP_MS * NS_PER_MS);
    got.insert(got.end(), last.begin(), last.end());
    EXPECT_EQ(m.deadline_ns(), -1);
    ASSERT_EQ(got.size(), c.reports.size());
    for (std::size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].bytes.size(), c.reports[i].first) << i;
        EXPECT_EQ(got[i].problems, c.reports[i].second) << i;
    }
}

const bytes F = {0x45, 1, 1, 1, 1, 1, 0, 0};

bytes cat(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Line, Bursts,
    testing::Values(
        burst_case{"one_frame", {{0, F}}, {{8, {}}}},
        burst_case{
            "frame_in_pieces", {{0, {0x45, 1, 1}}, {30, {1, 1, 1}}, {60, {0, 0}}}, {{8, {}}}},
        burst_case{"two_frames_at_once", {{0, cat(F, F)}}, {{8, {}}, {8, {}}}},
        burst_case{"short_frame", {{0, {0x45, 1, 1}}}, {{3, {"short frame: 3 of 8 bytes"}}}},
        burst_case{"left_over", {{0, cat(F, {0x0d})}}, {{8, {}}, {1, {"1 byte left over"}}}},
        // The gap counts from the end of the last stop bit on the wire.
        burst_case{"pause_splits_a_frame",
                   {{0, {1, 2, 3, 4}}, {FRAME_GAP_MS + 3, {5, 6, 7, 8}}},
                   {{4, {"short frame: 4 of 8 bytes"}}, {4, {"short frame: 4 of 8 bytes"}}}},
        // 204 bytes take 106 ms on the wire: the last 4 queue behind them.
        burst_case{"queued_bytes_do_not_split",
                   {{0, bytes(204, 0)}, {FRAME_GAP_MS + 3, {5, 6, 7, 8}}},
                   {26, {8, {}}}},
        burst_case{"frames_apart", {{0, F}, {1000, F}}, {{8, {}}, {8, {}}}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A change of settings at a time, during a frame written at time 0.
struct change_case {
    const char *name;
    bool at_arrival;
    long long change_at_ns;
    line_settings to;
    std::vector<std::string> problems;
    line_settings from = GOOD;
};

class Changes : public testing::TestWithParam<change_case>
{
};

TEST_P(Changes, ActOnTheBytesNotYetSent)
{
    const auto &c = GetParam();
    line_under_test t(c.from, c.at_arrival);
    wire &w = t.w;
    std::vector<line_report> &got = t.got;
    const auto keep = [&](const std::vector<sent_byte> &sent) { t.keep(sent); };
    keep(w.arrive(F, 0));
    keep(w.change(c.to, c.change_at_ns));
    keep(w.advance(w.idle_at()));
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].problems, c.problems);
    EXPECT_EQ(got[0].time_ns, 0);
}

const long long BYTE_NS = GOOD.char_ns(); // 520833 ns at 19200 8N1

INSTANTIATE_TEST_SUITE_P(
    Wire, Changes,
    testing::Values(
        change_case{"restore_at_once",
                    false,
                    1000,
                    line(9600),
                    {"settings changed from byte 2: 9600 8N1 raw", "speed 9600, not 19200"}},
        change_case{"during_the_last_byte", false, 7 * BYTE_NS + 1, line(9600), {}},
        change_case{"just_before_the_last_byte",
                    false,
                    7 * BYTE_NS - 1,
                    line(19200, "7E1"),
                    {"settings changed from byte 8: 19200 7E1 raw", "7 data bits", "parity E"}},
        change_case{"after_the_frame", false, 8 * BYTE_NS, line(9600), {}},
        change_case{"the_same_settings_again", false, 1000, line(19200, "8N1", OPOST), {}},
        change_case{"behind_an_emulated_uart", true, 1000, line(9600), {}},
        change_case{"raw_too_late_for_output_processing",
                    false,
                    1000,
                    line(19200),
                    {"output processing on"},
                    line(19200, "8N1", OPOST | ONLCR)}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(Wire, QueuesBytesAndTimesThemAtTheSpeedOfEach)
{
    wire w(GOOD, false);
    EXPECT_TRUE(w.arrive(cat(F, F), 0).empty());
    std::vector<sent_byte> sent = w.advance(BYTE_NS);
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[1].start_ns, BYTE_NS);
    // From the third byte on, 9600 7E2: 11 bits at 104.2 us.
    sent = w.change(line(9600, "7E2"), BYTE_NS + 1);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(w.idle_at(), 2 * BYTE_NS + 14LL * 1145833);
    std::size_t dropped = 0;
    sent = w.discard(2 * BYTE_NS + 1145833, dropped);
    EXPECT_EQ(sent.size(), 2U);
    EXPECT_EQ(dropped, 12U);
    EXPECT_FALSE(w.queued());
}

TEST(FrameMonitor, ReportsAFlushAsAFrameCutShort)
{
    frame_monitor m;
    EXPECT_TRUE(m.take({0x45, 0, BYTE_NS, GOOD}).empty());
    const auto got = m.cut(7, BYTE_NS, GOOD);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].bytes, bytes{0x45});
    EXPECT_EQ(
        got[0].problems,
        std::vector<std::string>{"cut short by a flush of output: 1 of 8 bytes sent, 7 discarded"});
    EXPECT_TRUE(m.flush().empty());
}

} // namespace
