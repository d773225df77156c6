// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The panel on a real line: the receiver's marked stream read back, and
// `panelsim --listen` on a pseudo-terminal whose other side the test writes,
// as a device's line would.
#include "frames_of.h"
#include "marks.h"
#include "process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

struct mark_case {
    const char *name;
    std::vector<bytes> reads; // the stream, as the reads gave it
    std::vector<received_char> got;
};

class Marks : public testing::TestWithParam<mark_case>
{
};

TEST_P(Marks, AreReadBackAsTheReceiverTookThem)
{
    mark_decoder d;
    std::vector<received_char> got;
    for (const bytes &r : GetParam().reads) {
        const auto more = d.take(r);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(got, GetParam().got);
}

const received_char FF{0xff};
const received_char BREAK{0, true, true};

INSTANTIATE_TEST_SUITE_P(
    Stream, Marks,
    testing::Values(
        mark_case{"plain", {{0x45, 0x01, 0x00}}, {{0x45}, {0x01}, {0x00}}},
        mark_case{"ff_doubled", {{0xff, 0xff, 0x45}}, {FF, {0x45}}},
        mark_case{"break", {{0x45, 0xff, 0x00, 0x00}}, {{0x45}, BREAK}},
        mark_case{"framing_error", {{0xff, 0x00, 0xf0}}, {{0xf0, true, false}}},
        // A mark split between reads is one mark.
        mark_case{"split_after_the_escape", {{0x45, 0xff}, {0x00, 0x00}}, {{0x45}, BREAK}},
        mark_case{"split_before_the_byte", {{0xff, 0x00}, {0xf0}}, {{0xf0, true, false}}},
        mark_case{"split_ff", {{0xff}, {0xff}}, {FF}},
        // What the line discipline never sends is taken as it is.
        mark_case{"lone_escape", {{0xff, 0x45}}, {FF, {0x45}}},
        mark_case{"escape_at_the_end", {{0x45, 0xff}}, {{0x45}}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A pseudo-terminal: the test writes its master side, as the device's line
// would reach an adapter's receiver; the panel listens on the other.
class pty_pair
{
  public:
    pty_pair()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            slave_ = ptsname(master_);
    }
    ~pty_pair() { close_master(); }
    pty_pair(const pty_pair &) = delete;
    pty_pair &operator=(const pty_pair &) = delete;

    [[nodiscard]] const std::string &slave() const { return slave_; }
    void write_bytes(const bytes &b) const
    {
        ASSERT_EQ(write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    void close_master()
    {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

// The listener on the pair, once it says it listens.
process listener(const pty_pair &line, const std::vector<std::string> &more = {})
{
    std::vector<std::string> argv = {PANELSIM, "--listen", line.slave(), "--json"};
    argv.insert(argv.end(), more.begin(), more.end());
    return process(argv);
}

// Whether the panel came to wait for what the port delivers.
bool listening(const process &p)
{
    return waits_in_call(p.pid(), {SYS_ppoll});
}

struct listen_case {
    const char *name;
    std::vector<bytes> sends; // each in one write, 300 ms apart: far more than a frame's gap
    std::string frames;
    int status;
};

class Listen : public testing::TestWithParam<listen_case>
{
};

const bytes FRAME45 = {0x45, 1, 1, 1, 1, 1, 0, 0};

TEST_P(Listen, JudgesWhatTheReceiverTook)
{
    const auto &c = GetParam();
    pty_pair line;
    ASSERT_FALSE(line.slave().empty());
    process p = listener(line);
    ASSERT_TRUE(listening(p)) << "the panel never listened";
    for (const bytes &b : c.sends) {
        line.write_bytes(b);
        usleep(300000);
    }
    kill(p.pid(), SIGINT);
    const outcome o = p.wait();
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(frames_of(o.out), c.frames) << o.out;
    EXPECT_NE(o.out.find("{\"type\": \"summary\""), std::string::npos) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Pty, Listen,
    testing::Values(listen_case{"a_frame", {FRAME45}, "45 01 01 01 01 01 00 00", 0},
                    listen_case{"two_frames_apart",
                                {FRAME45, FRAME45},
                                "45 01 01 01 01 01 00 00; 45 01 01 01 01 01 00 00",
                                0},
                    listen_case{"two_frames_at_once",
                                {{0x45, 1, 1, 1, 1, 1, 0, 0, 0x0a, 0x0d, 0x11, 0x13, 0, 0, 0, 0}},
                                "45 01 01 01 01 01 00 00; 0a 0d 11 13 00 00 00 00",
                                0},
                    listen_case{"ff_in_a_frame",
                                {{0xff, 0xff, 1, 1, 1, 1, 0, 0}},
                                "ff ff 01 01 01 01 00 00",
                                0},
                    listen_case{"a_short_frame", {{0x45, 1, 1}}, "45 01 01 !cut_short", 1},
                    listen_case{"bytes_left_over",
                                {{0x45, 1, 1, 1, 1, 1, 0, 0, 0x45}},
                                "45 01 01 01 01 01 00 00; 45 !left_over",
                                1}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Whatever way the run ends, the port is as it was found.
TEST(ListenUse, PutsThePortBackAsItWas)
{
    pty_pair line;
    const int fd = open(line.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    process p = listener(line);
    ASSERT_TRUE(listening(p));
    termios during{};
    ASSERT_EQ(tcgetattr(fd, &during), 0);
    EXPECT_EQ(during.c_iflag & (PARMRK | INPCK | IGNPAR | BRKINT | ISTRIP), PARMRK | INPCK);
    EXPECT_EQ(cfgetispeed(&during), B19200);
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.wait().status, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    close(fd);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

// An adapter unplugged: the reports so far stand, the summary ends the run.
TEST(ListenUse, APortThatGoesAwayEndsTheRun)
{
    pty_pair line;
    process p = listener(line);
    ASSERT_TRUE(listening(p));
    line.write_bytes(FRAME45);
    usleep(300000);
    line.close_master();
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(" went away: the reports so far stand"), std::string::npos) << o.err;
    EXPECT_EQ(frames_of(o.out), "45 01 01 01 01 01 00 00");
    EXPECT_NE(o.out.find("{\"type\": \"summary\", \"frames\": 1, \"flagged\": 0}"),
              std::string::npos)
        << o.out;
}

struct refusal_case {
    const char *name;
    std::string device; // empty: the pair's, held by the test alone (TIOCEXCL)
    std::string said;
};

class ListenRefuses : public testing::TestWithParam<refusal_case>
{
};

TEST_P(ListenRefuses, WithAClearErrorAndStatus2)
{
    const auto &c = GetParam();
    pty_pair line;
    const int fd = open(line.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
    process p({PANELSIM, "--listen", c.device.empty() ? line.slave() : c.device, "--json"});
    const outcome o = p.wait();
    close(fd);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "{\"type\": \"summary\", \"frames\": 0, \"flagged\": 0}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ListenRefuses,
    testing::Values(refusal_case{"not_a_terminal", "/dev/null", ": it is not a terminal"},
                    refusal_case{"held_alone_by_another", "",
                                 ": it is held by another program alone (TIOCEXCL)"},
                    refusal_case{"missing", "/nonexistent/ttyUSB0", ": No such file or directory"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

} // namespace
