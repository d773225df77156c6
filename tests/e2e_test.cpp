// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The built programs, run as a script would run them, against a pseudo-
// terminal standing in for the serial line.
//
//   e2e_test --panelcmd PATH --panel45 PATH --device PATH [--emulator "CMD ARGS"]
//
// The programs must have been built to open --device. With --emulator (for
// builds for another processor) they run under it, while the line stays on
// this machine.
#include "expected.h"
#include "process.h"
#include "pty_line.h"
#include "writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

struct config {
    std::string panelcmd;
    std::string panel45;
    std::string device;
    std::vector<std::string> emulator;
} cfg;

using bytes = std::vector<std::uint8_t>;

const bytes FRAME45 = {0x45, 1, 1, 1, 1, 1, 0, 0};
const bytes OTHER_FRAME = {0x45, 2, 2, 2, 2, 2, 0, 0}; // another program's
// A fill's rounds, and how long the pseudo-terminal settles after each.
constexpr int SETTLE_ROUNDS = 3;
constexpr int SETTLE_MS = 50;
// The calls a program waits for room in (under qemu-user too, which makes
// its own), and the one a blocking write waits in.
const std::vector<long> POLLING = {
#ifdef SYS_poll
    SYS_poll,
#endif
    SYS_ppoll};
const std::vector<long> WRITING = {SYS_write};
const std::string USAGE_SUFFIX = " command data...\n";

std::vector<std::string> command(const std::string &program, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = cfg.emulator;
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

class E2E : public testing::Test
{
  protected:
    // The line takes the device path as a panel does: never while a live
    // panel holds it, and it removes only its own link again.
    void SetUp() override
    {
        ASSERT_TRUE(line.open()) << strerror(errno);
        ASSERT_TRUE(line.link(cfg.device))
            << cfg.device << ": "
            << (errno == EBUSY ? "held by a running panel (pid " + std::to_string(line.holder()) +
                                     "); stop it, or wait for the tests that use it"
                               : strerror(errno));
    }

    // What reaches the line until it has been quiet for a while.
    bytes received() { return line.drain(300); }

    pty_line line;
};

struct run_case {
    const char *name;
    bool cmd; // panelcmd, else panel45
    std::vector<std::string> args;
    bytes frame;
};

class Frames : public E2E, public testing::WithParamInterface<run_case>
{
};

TEST_P(Frames, ReachTheLineWholeAndUnaltered)
{
    const auto &c = GetParam();
    const auto &program = c.cmd ? cfg.panelcmd : cfg.panel45;
    process p(command(program, c.args));
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, c.cmd ? "usage : " + program + USAGE_SUFFIX + frame_line(c.frame)
                           : "vfd_0x45 command\n");
    EXPECT_EQ(received(), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Frames,
    testing::Values(run_case{"panel45", false, {}, FRAME45},
                    run_case{"panelcmd_as_panel45", true, {"45", "1", "1", "1", "1", "1"}, FRAME45},
                    run_case{"no_arguments", true, {}, bytes(8, 0)},
                    run_case{"control_bytes_and_nine_arguments",
                             true,
                             {"a", "d", "11", "13", "0", "ff", "0x7f", "1ff", "99"},
                             {0x0a, 0x0d, 0x11, 0x13, 0x00, 0xff, 0x7f, 0xff}},
                    run_case{"lenient_hex",
                             true,
                             {"zz", "FF", "0X45", "-1", "4g"},
                             {0, 0xff, 0x45, 1, 0x40, 0, 0, 0}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Whatever an earlier user left on the port is replaced by 19200 8N1 raw,
// before the frame goes out: the 0x0a must not come out as 0x0d 0x0a.
class Settings : public E2E, public testing::WithParamInterface<bool>
{
};

TEST_P(Settings, SpoiledSettingsAreReplaced)
{
    ASSERT_TRUE(line.configure(spoiled_settings()));
    const bool cmd = GetParam();
    process p(cmd ? command(cfg.panelcmd, {"a", "d", "11", "13", "0"}) : command(cfg.panel45, {}));
    EXPECT_EQ(p.wait().status, 0);
    const bytes frame = cmd ? bytes{0x0a, 0x0d, 0x11, 0x13, 0, 0, 0, 0} : FRAME45;
    EXPECT_EQ(received(), frame);

    EXPECT_EQ(raw_19200_faults(line.settings()), "");
}

INSTANTIATE_TEST_SUITE_P(Programs, Settings, testing::Values(false, true),
                         [](const auto &param_info) {
                             return param_info.param ? "panelcmd" : "panel45";
                         });

struct closed_case {
    const char *name;
    start_options how;
};

class ClosedStreams : public E2E, public testing::WithParamInterface<closed_case>
{
};

// Started with standard descriptors closed, the programs still put exactly
// the frame on the line, none of their texts, and exit as they would.
TEST_P(ClosedStreams, TheLineGetsOnlyTheFrame)
{
    const auto &how = GetParam().how;
    process p45(command(cfg.panel45, {}), how);
    const outcome o45 = p45.wait();
    EXPECT_EQ(o45.status, 0);
    EXPECT_EQ(received(), FRAME45);
    process cmd(command(cfg.panelcmd, {"a", "d", "0"}), how);
    const outcome o = cmd.wait();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(received(), (bytes{0x0a, 0x0d, 0, 0, 0, 0, 0, 0}));
    if (!how.closed_out) {
        EXPECT_EQ(o45.out, "vfd_0x45 command\n");
        EXPECT_EQ(o.out, "usage : " + cfg.panelcmd + USAGE_SUFFIX +
                             frame_line(bytes{0x0a, 0x0d, 0, 0, 0, 0, 0, 0}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Start, ClosedStreams,
    testing::Values(closed_case{"stdin", {.closed_in = true}},
                    closed_case{"stdout", {.closed_out = true}},
                    closed_case{"stderr", {.closed_err = true}},
                    closed_case{"all_three",
                                {.closed_in = true, .closed_out = true, .closed_err = true}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST_F(E2E, Panel45WithAnArgumentLeavesThePortAlone)
{
    ASSERT_TRUE(line.configure(spoiled_settings()));
    process p(command(cfg.panel45, {"x"}));
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "usage : " + cfg.panel45 + " n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(received(), bytes{});
    const termios t = line.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD | CRTSCTS),
              static_cast<tcflag_t>(CSTOPB | PARODD | CRTSCTS));
    EXPECT_NE(t.c_lflag & ECHO, 0U);
}

// A start with an empty argument vector: the programs name themselves.
TEST_F(E2E, EmptyArgumentVector)
{
    if (!cfg.emulator.empty())
        GTEST_SKIP() << "an emulator cannot pass an empty argument vector on";
    process cmd({cfg.panelcmd}, {.no_argv = true});
    const outcome o = cmd.wait();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "usage : panelcmd" + USAGE_SUFFIX + frame_line(bytes(8, 0)));
    process p45({cfg.panel45}, {.no_argv = true});
    EXPECT_EQ(p45.wait().status, 0);
    EXPECT_EQ(received(), (bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x45, 1, 1, 1, 1, 1, 0, 0}));
}

struct failure_case {
    const char *name;
    bool cmd;
    bool regular_file; // a regular file at the device path, else nothing
    const char *err;
};

class Failures : public E2E, public testing::WithParamInterface<failure_case>
{
};

// A port that cannot be used is a failure the calling script can see: a
// message, status 1, and nothing written anywhere.
TEST_P(Failures, AreReportedWithStatusOne)
{
    const auto &c = GetParam();
    line.unlink();
    // The line still holds the path: a file made here is ours, and removed
    // again at the end.
    if (c.regular_file) {
        const int fd = ::open(cfg.device.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << cfg.device << ": " << strerror(errno);
        close(fd);
    }
    const auto &program = c.cmd ? cfg.panelcmd : cfg.panel45;
    process p(
        command(program, c.cmd ? std::vector<std::string>{"45", "1"} : std::vector<std::string>{}));
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, c.cmd ? "usage : " + program + USAGE_SUFFIX : "");
    EXPECT_EQ(o.err, c.err);
    // One stream taking both outputs shows them in the order written.
    process merged(
        command(program, c.cmd ? std::vector<std::string>{"45", "1"} : std::vector<std::string>{}),
        {.one_stream = true});
    const outcome m = merged.wait();
    EXPECT_EQ(m.status, 1);
    EXPECT_EQ(m.out, o.out + c.err);
    // With standard error closed, the message must not land in the port.
    process quiet(command(program, {}), {.closed_err = true});
    EXPECT_EQ(quiet.wait().status, 1);
    struct stat st {
    };
    if (c.regular_file) {
        ASSERT_EQ(stat(cfg.device.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(::unlink(cfg.device.c_str()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Port, Failures,
    testing::Values(failure_case{"missing_panel45", false, false,
                                 "file open error\n: No such file or directory\n"},
                    failure_case{"missing_panelcmd", true, false,
                                 "file open error\n: No such file or directory\n"},
                    failure_case{"not_a_terminal_panel45", false, true,
                                 "port setup error: Inappropriate ioctl for device\n"},
                    failure_case{"not_a_terminal_panelcmd", true, true,
                                 "port setup error: Inappropriate ioctl for device\n"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Fills the line's buffer from a second writer with 'x' until it takes no
// more, or limit bytes; returns how many it took.
std::size_t fill(const pty_line &line, std::size_t limit = SIZE_MAX)
{
    const int fd = ::open(line.slave_path().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    termios raw{};
    raw.c_cflag = CS8 | CREAD | CLOCAL;
    tcsetattr(fd, TCSANOW, &raw);
    std::size_t total = 0;
    const std::string chunk(1024, 'x');
    // The pty moves data on in the background, when it will: fill, let it
    // settle, fill again. There is nothing to wait for but its own timing.
    for (int round = 0; round < SETTLE_ROUNDS; round++) {
        ssize_t n;
        while (total < limit &&
               (n = write(fd, chunk.data(), std::min(chunk.size(), limit - total))) > 0)
            total += static_cast<std::size_t>(n);
        usleep(SETTLE_MS * 1000);
    }
    close(fd);
    return total;
}

TEST_F(E2E, BusyLineThatDrainsStillGetsTheWholeFrame)
{
    const std::size_t filled = fill(line);
    ASSERT_GT(filled, 0U);
    process p(command(cfg.panel45, {}));
    ASSERT_TRUE(waits_in_call(p.pid(), POLLING)) << "panel45 never waited for room";
    const bytes got = received();
    const outcome o = p.wait();
    const bytes rest = received();
    EXPECT_EQ(o.status, 0) << o.err;
    bytes all = got;
    all.insert(all.end(), rest.begin(), rest.end());
    ASSERT_EQ(all.size(), filled + 8);
    EXPECT_EQ(bytes(all.end() - 8, all.end()), FRAME45);
}

TEST_F(E2E, BusyLineThatNeverDrainsFailsWithinTheBound)
{
    const std::size_t filled = fill(line);
    ASSERT_GT(filled, 0U);
    process p(command(cfg.panel45, {}));
    const outcome o = p.wait(20000);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "vfd_0x45 command\n");
    EXPECT_EQ(o.err, "frame write error: Connection timed out\n");
    // Nothing is discarded and nothing of the frame was queued: when the line
    // moves again, the whole filler arrives, and only the filler.
    const bytes after = received();
    EXPECT_EQ(after.size(), filled) << "the filler was cut, or a part of the frame went out";
    EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](std::uint8_t b) { return b == 'x'; }))
        << "a part of the frame went out";
}

// The line 7 bytes short of full, panel45 and another program's blocking
// write at once: neither frame may be cut by the other's bytes.
TEST_F(E2E, NearlyFullLineWithAnotherWriterGetsBothFramesWhole)
{
    pty_line probe;
    ASSERT_TRUE(probe.open());
    const std::size_t capacity = fill(probe);
    ASSERT_GT(capacity, 7U);
    ASSERT_EQ(fill(line, capacity - 7), capacity - 7);
    process p(command(cfg.panel45, {}));
    ASSERT_TRUE(p.holds_open(line.slave_path())) << "panel45 never opened the line";
    ASSERT_TRUE(waits_in_call(p.pid(), POLLING)) << "panel45 never waited for room";
    writer other(line.slave_path(), OTHER_FRAME);
    ASSERT_TRUE(in_call_or_ended(other.pid(), WRITING)) << "the other writer never wrote";
    const bytes got = received();
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(other.wait(), 0);
    bytes all = got;
    const bytes rest = received();
    all.insert(all.end(), rest.begin(), rest.end());
    ASSERT_EQ(all.size(), capacity - 7 + 16);
    const bytes first(all.end() - 16, all.end() - 8);
    const bytes second(all.end() - 8, all.end());
    EXPECT_TRUE((first == FRAME45 && second == OTHER_FRAME) ||
                (first == OTHER_FRAME && second == FRAME45))
        << "a frame was torn";
}

// Fields 6 and 7 of /proc/PID/stat: the process's session, and its
// controlling terminal (0 for none); -1 where they cannot be read. The fields
// are counted after the last ')', which closes the command name whatever that
// name holds.
struct session_fields {
    long long session = -1;
    long long tty = -1;
};

session_fields session_of(pid_t pid)
{
    char text[1024] = {};
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    const char *fields = n > 0 ? strrchr(text, ')') : nullptr;
    if (fields == nullptr)
        return {};
    std::istringstream rest(fields + 1);
    std::string state;
    long long ppid = 0;
    long long pgrp = 0;
    session_fields f;
    rest >> state >> ppid >> pgrp >> f.session >> f.tty;
    return rest ? f : session_fields{};
}

// Started as a service is (systemd, setsid, cron), a program leads a session
// without a controlling terminal; the port it opens must not become one. Else
// the kernel hangs the port up under every other holder when the run ends.
TEST_F(E2E, ThePortIsNotTheControllingTerminalOfASessionLeader)
{
    const std::vector<std::string> args = {"45", "1", "1", "1", "1", "1"};
    process p(command(cfg.panelcmd, args), {.session_leader = true});
    // The port is open from before the frame is shown until after the pause.
    ASSERT_TRUE(p.holds_open(line.slave_path())) << "panelcmd never opened the line";
    struct stat st {
    };
    ASSERT_EQ(stat(line.slave_path().c_str(), &st), 0);
    const session_fields f = session_of(p.pid());
    ASSERT_EQ(f.session, p.pid()) << "panelcmd does not lead a session of its own";
    EXPECT_NE(static_cast<unsigned long long>(f.tty), static_cast<unsigned long long>(st.st_rdev));
    EXPECT_EQ(f.tty, 0);
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(received(), FRAME45);
}

// Runs at the same time may take turns on the line, but every frame must
// arrive whole.
TEST_F(E2E, ConcurrentRunsEachDeliverAWholeFrame)
{
    std::vector<std::unique_ptr<process>> runs;
    std::map<bytes, int> want;
    for (int i = 0; i < 50; i++) {
        if (i % 2 == 0) {
            runs.push_back(std::make_unique<process>(command(cfg.panel45, {})));
            want[FRAME45]++;
        } else {
            const std::string b = std::to_string(i % 10);
            runs.push_back(
                std::make_unique<process>(command(cfg.panelcmd, {b, b, b, b, b, b, b, b})));
            const auto v = static_cast<std::uint8_t>(i % 10);
            want[bytes(8, v)]++;
        }
    }
    for (auto &r : runs)
        EXPECT_EQ(r->wait().status, 0);
    const bytes got = received();
    ASSERT_EQ(got.size(), runs.size() * 8);
    std::map<bytes, int> frames;
    for (std::size_t i = 0; i < got.size(); i += 8)
        frames[bytes(got.begin() + static_cast<long>(i), got.begin() + static_cast<long>(i) + 8)]++;
    EXPECT_EQ(frames, want);
}

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--panelcmd")
            cfg.panelcmd = value;
        else if (key == "--panel45")
            cfg.panel45 = value;
        else if (key == "--device")
            cfg.device = value;
        else if (key == "--emulator") {
            std::istringstream words(value);
            for (std::string w; words >> w;)
                cfg.emulator.push_back(w);
        } else {
            fprintf(stderr, "e2e_test: unknown argument %s\n", key.c_str());
            return 2;
        }
    }
    if (!GTEST_FLAG_GET(list_tests) &&
        (cfg.panelcmd.empty() || cfg.panel45.empty() || cfg.device.empty())) {
        fprintf(stderr,
                "usage: e2e_test --panelcmd PATH --panel45 PATH --device PATH [--emulator CMD]\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
