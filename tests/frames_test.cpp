#include "frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

termios line(speed_t speed, tcflag_t cflag, tcflag_t oflag = 0, tcflag_t iflag = 0)
{
    termios t{};
    t.c_cflag = cflag | CREAD | CLOCAL;
    t.c_oflag = oflag;
    t.c_iflag = iflag;
    cfsetospeed(&t, speed);
    cfsetispeed(&t, speed);
    return t;
}

const termios GOOD = line(B19200, CS8);

struct settings_case {
    const char *name;
    termios settings;
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
        settings_case{"slow", line(B9600, CS8), "9600 8N1 raw", {"speed 9600, not 19200"}},
        settings_case{
            "seven_even", line(B19200, CS7 | PARENB), "19200 7E1 raw", {"7 data bits", "parity E"}},
        settings_case{"odd_two_stop",
                      line(B19200, CS8 | PARENB | PARODD | CSTOPB),
                      "19200 8O2 raw",
                      {"parity O", "2 stop bits"}},
        settings_case{"output_processing",
                      line(B19200, CS8, OPOST | ONLCR),
                      "19200 8N1 opost onlcr",
                      {"output processing on"}},
        settings_case{"flow_control",
                      line(B19200, CS8 | CRTSCTS, 0, IXON | IXOFF),
                      "19200 8N1 ixon ixoff crtscts",
                      {"RTS/CTS flow control", "XON/XOFF flow control"}},
        settings_case{
            "all_wrong",
            line(B38400, CS7 | PARENB, OPOST),
            "38400 7E1 opost",
            {"speed 38400, not 19200", "7 data bits", "parity E", "output processing on"}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Bytes arriving in chunks at given times (ms), then the line left quiet.
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
    frame_monitor m;
    std::vector<line_report> got;
    const auto keep = [&got](const std::vector<line_report> &reports) {
        got.insert(got.end(), reports.begin(), reports.end());
    };
    for (const auto &ch : c.chunks) {
        keep(m.idle(ch.at));
        keep(m.feed(ch.data, GOOD, ch.at));
    }
    const long long end = c.chunks.back().at;
    EXPECT_TRUE(m.idle(end + FRAME_GAP_MS - 1).empty());
    keep(m.idle(end + FRAME_GAP_MS));
    EXPECT_EQ(m.wait_ms(end + FRAME_GAP_MS), -1);
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
        burst_case{"pause_splits_a_frame",
                   {{0, {1, 2, 3, 4}}, {FRAME_GAP_MS, {5, 6, 7, 8}}},
                   {{4, {"short frame: 4 of 8 bytes"}}, {4, {"short frame: 4 of 8 bytes"}}}},
        burst_case{"frames_apart", {{0, F}, {1000, F}}, {{8, {}}, {8, {}}}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(FrameMonitor, JudgesAFrameByTheSettingsOfItsFirstByte)
{
    frame_monitor m;
    EXPECT_TRUE(m.feed(bytes{0x45, 1, 1, 1}, line(B9600, CS8), 0).empty());
    const auto got = m.feed(bytes{1, 1, 0, 0}, GOOD, 1);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].problems, std::vector<std::string>{"speed 9600, not 19200"});
    EXPECT_EQ(got[0].time_ms, 0);
}

} // namespace
