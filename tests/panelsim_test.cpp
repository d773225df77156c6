// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The virtual panel, run as its users run it: around a command, with the
// host build of the programs or with the shell's own ways of writing a port.
#include "process.h"
#include "watch_required.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

// The tests' line, which the host build's copies of the programs open.
const std::string LINK = LINE;

struct panel_case {
    const char *name;
    std::vector<std::string> argv; // after panelsim
    int status;
    std::vector<std::string> out; // lines expected in standard output, in order
    std::string err;              // expected at the start of standard error
};

// stty reads the settings back and fails when they are not what it asked
// for: the line holds what a UART would, not what a pseudo-terminal can.
std::string shell_write(const std::string &stty, const std::string &printf_bytes)
{
    return "stty -F " + LINK + " " + stty + " && printf '" + printf_bytes + "' > " + LINK;
}

const std::string FRAME45 = "\\105\\001\\001\\001\\001\\001\\000\\000";
const std::string HEX45 = "4501010101010000";
const std::string CLEAN45 = "  45 01 01 01 01 01 00 00  19200 8N1 raw\n";

class Panel : public testing::TestWithParam<panel_case>
{
};

TEST_P(Panel, ReportsWhatReachedTheLine)
{
    const auto &c = GetParam();
    std::vector<std::string> argv = {PANELSIM};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    process p(argv);
    const outcome o = p.wait();
    // Where seccomp is not to be had (some containers), what the panel sees
    // differs; it says so.
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    // A sender's way that this machine does not offer.
    if (o.status == 77)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_EQ(missing_in_order(o.out, c.out), "") << "in:\n" << o.out;
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Panel,
    testing::Values(
        panel_case{"host_panel45",
                   {"-l", LINK, "--", HOST_PANEL45},
                   0,
                   {"vfd_0x45 command\n", "  45 01 01 01 01 01 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"host_panelcmd_control_bytes",
                   {"-l", LINK, "--", HOST_PANELCMD, "a", "d", "11", "13", "0"},
                   0,
                   {"  0a 0d 11 13 00 00 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"clean_shell_write",
                   {"-l", LINK, "--", "sh", "-c", shell_write("19200 raw -echo", FRAME45)},
                   0,
                   {"  45 01 01 01 01 01 00 00  19200 8N1 raw\n",
                    "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        // The UART sends a byte at a time: a change applied at once reaches
        // the bytes not yet sent; a drain, a draining change or the last
        // close waits for them. The output is suspended after the first
        // byte, so that the change finds the rest queued however late it
        // comes.
        panel_case{"changed_at_once_after_a_write",
                   {"-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "write:45", "flow:ooff",
                    "write:01010101010000", "termios:9600:8N1", "flow:oon"},
                   1,
                   {"  45 01 01 01 01 01 00 00  19200 8N1 raw  !! settings changed from byte 2: "
                    "9600 8N1 raw; speed 9600, not 19200\n",
                    "panelsim: 1 frame received, 1 flagged\n"},
                   ""},
        panel_case{"drained_then_changed",
                   {"-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "write:" + HEX45, "drain",
                    "termios:9600:8N1"},
                   0,
                   {CLEAN45, "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"changed_after_the_drain",
                   {"-l", LINK, "--", SENDER, LINK, "termio:19200:8N1", "write:" + HEX45,
                    "termios2:9600:7E1:drain"},
                   0,
                   {CLEAN45, "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        panel_case{"changed_after_another_program_closed",
                   {"-l", LINK, "--", "sh", "-c",
                    std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:" + HEX45 + "; " +
                        SENDER + " " + LINK + " termios:9600:8N1"},
                   0,
                   {CLEAN45, "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        // The flush finds 15 bytes queued behind the first, held back.
        panel_case{
            "flushed",
            {"-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "write:45", "flow:ooff",
             "write:01010101010000" + HEX45, "flush"},
            1,
            {"  45                       19200 8N1 raw  !! cut short by a flush of output: 1 "
             "of 8 bytes sent, 15 discarded\n",
             "panelsim: 1 frame received, 1 flagged\n"},
            ""},
        // Every way of asking for settings is seen.
        panel_case{"system_v_termio",
                   {"-l", LINK, "--", SENDER, LINK, "termio:19200:7E1", "write:" + HEX45},
                   1,
                   {"  45 01 01 01 01 01 00 00  19200 7E1 raw  !! 7 data bits; parity E\n"},
                   ""},
        panel_case{"termios2_exact_speed",
                   {"-l", LINK, "--", SENDER, LINK, "termios2:19200:8N1", "write:" + HEX45},
                   0,
                   {CLEAN45},
                   ""},
        panel_case{"i386_abi",
                   {"-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "i386:19200:7O2",
                    "write:" + HEX45},
                   1,
                   {"  45 01 01 01 01 01 00 00  19200 7O2 raw  !! 7 data bits; parity O; 2 stop "
                    "bits, not the device's 1 (a controller at 8N1 takes them)\n"},
                   ""},
        panel_case{"sent_in_the_background",
                   // The sender starts after the command has ended: the sleep is the case's.
                   {"-l", LINK, "--", "sh", "-c",
                    std::string("(sleep 0.3; ") + SENDER + " " + LINK +
                        " termios:19200:8N1 write:" + HEX45 + ") & exit 3"},
                   3,
                   {CLEAN45, "panelsim: 1 frame received, 0 flagged\n"},
                   ""},
        // Faster than a turn of the panel's loop, a write of many times the
        // transmit buffer still leaves whole: no byte lost, none twice.
        panel_case{
            "many_frames_at_4000000_baud",
            {"-l", LINK, "--", SENDER, LINK, "termios:4000000:8N1", "write:" + HEX45 + ":4096"},
            1,
            {"  45 01 01 01 01 01 00 00  4000000 8N1 raw  !! speed 4000000, not 19200\n",
             "panelsim: 4096 frames received, 4096 flagged\n"},
            ""},
        panel_case{"slow",
                   {"-l", LINK, "--", "sh", "-c", shell_write("9600 raw -echo", FRAME45)},
                   1,
                   {"  45 01 01 01 01 01 00 00  9600 8N1 raw  !! speed 9600, not 19200\n",
                    "panelsim: 1 frame received, 1 flagged\n"},
                   ""},
        panel_case{"seven_even_one",
                   {"-l", LINK, "--", "sh", "-c",
                    shell_write("19200 raw -echo cs7 parenb -parodd", FRAME45)},
                   1,
                   {"  45 01 01 01 01 01 00 00  19200 7E1 raw  !! 7 data bits; parity E\n",
                    "panelsim: 1 frame received, 1 flagged\n"},
                   ""},
        panel_case{"output_processing",
                   {"-l", LINK, "--", "sh", "-c",
                    shell_write("19200 raw -echo opost onlcr",
                                "\\012\\001\\001\\001\\001\\001\\000\\000")},
                   1,
                   {"  0d 0a 01 01 01 01 01 00  19200 8N1 opost onlcr  !! output processing on\n",
                    "  00                       19200 8N1 opost onlcr  !! 1 byte left over; output "
                    "processing on\n",
                    "panelsim: 2 frames received, 2 flagged\n"},
                   ""},
        panel_case{
            "short_frame",
            {"-l", LINK, "--", "sh", "-c", shell_write("19200 raw -echo", "\\105\\001\\001")},
            1,
            {"  45 01 01                 19200 8N1 raw  !! short frame: 3 of 8 bytes\n",
             "panelsim: 1 frame received, 1 flagged\n"},
            ""},
        panel_case{"command_status_passes_through",
                   {"-l", LINK, "--", "sh", "-c", "exit 5"},
                   5,
                   {"panelsim: 0 frames received, 0 flagged\n"},
                   ""},
        panel_case{"command_not_found",
                   {"-l", LINK, "--", "/nonexistent/command"},
                   127,
                   {},
                   "panelsim: cannot start /nonexistent/command: No such file or directory\n"},
        panel_case{"unknown_option", {"--frobnicate"}, 2, {}, ""},
        panel_case{"help", {"--help"}, 0, {"usage: panelsim"}, ""}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// What is at the path is not a link a panel left behind: the panel refuses
// to start and leaves it exactly as it was, another program's live line
// included.
struct taken_case {
    const char *name;
    const char *target; // of a link; nullptr: a pseudo-terminal the test holds open
    bool file = false;
};

class Taken : public testing::TestWithParam<taken_case>
{
};

TEST_P(Taken, RefusesAPathThatIsNotItsLink)
{
    const std::string path = LINK + "-taken";
    const auto &c = GetParam();
    int fd = -1;
    if (c.file) {
        fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
    } else if (c.target == nullptr) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(grantpt(fd) == 0 && unlockpt(fd) == 0 && ptsname(fd) != nullptr);
        ASSERT_EQ(symlink(ptsname(fd), path.c_str()), 0);
    } else {
        ASSERT_EQ(symlink(c.target, path.c_str()), 0);
    }
    struct stat before {
    };
    ASSERT_EQ(lstat(path.c_str(), &before), 0);
    process p({PANELSIM, "-l", path, "--", "true"});
    const outcome o = p.wait();
    struct stat after {
    };
    const bool there = lstat(path.c_str(), &after) == 0;
    unlink(path.c_str());
    if (fd >= 0)
        close(fd);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err,
              "panelsim: " + path +
                  " exists and is not a panel's link; remove it or choose another with --link\n");
    ASSERT_TRUE(there) << "removed";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(AtThePath, Taken,
                         testing::Values(taken_case{"a_file", nullptr, true},
                                         taken_case{"another_programs_live_line", nullptr},
                                         // It leads into /dev/pts, but to no line.
                                         taken_case{"a_link_to_the_multiplexer", "/dev/pts/ptmx"}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

// Where the link at path points; empty if there is none.
std::string link_target(const std::string &path)
{
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// A second panel asked for a live panel's line fails at once and names it;
// the first panel's link stays its own, and its command's frame reaches it.
TEST(PanelUse, LeavesALivePanelsLineAlone)
{
    // The second panel's words go to standard output, then its status and
    // the first panel's pid.
    const std::string second = std::string(PANELSIM) + " -l " + LINK +
                               " -- true 2>&1; echo \"status $?, holder $PPID\"; " + SENDER + " " +
                               LINK + " termios:19200:8N1 write:" + HEX45;
    process p({PANELSIM, "-l", LINK, "--", "sh", "-c", second});
    const outcome o = p.wait();
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(CLEAN45), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("panelsim: 1 frame received, 0 flagged\n"), std::string::npos) << o.out;
    const std::string said = "status 2, holder ";
    const std::size_t at = o.out.find(said);
    ASSERT_NE(at, std::string::npos) << o.out;
    const std::string holder =
        o.out.substr(at + said.size(), o.out.find('\n', at) - at - said.size());
    EXPECT_NE(o.out.find("panelsim: " + LINK + " is held by a running panel (pid " + holder +
                         "); stop it or choose another path with --link\n" + said),
              std::string::npos)
        << o.out;
}

// Starts a panel at link and kills it outright once it holds its line;
// false when it never linked.
bool kill_a_linked_panel(const std::string &link)
{
    process first({PANELSIM, "-l", link});
    const bool linked = first.shows("panelsim: the line is at ");
    kill(first.pid(), SIGKILL);
    return first.wait().status == 128 + SIGKILL && linked;
}

// A panel killed outright leaves its link behind; the next one takes it over.
// Should the dead line's number have been given to another terminal on the
// machine meanwhile, the link is refused, as it must be: the round is played
// again, on a path of its own, so that no other test finds a link there.
TEST(PanelUse, TakesOverTheLinkOfAKilledPanel)
{
    const std::string link = LINK + "-killed";
    outcome o;
    for (int round = 0; round < 5; round++) {
        (void)unlink(link.c_str());
        ASSERT_TRUE(kill_a_linked_panel(link)) << "the first panel never linked " << link;
        ASSERT_NE(link_target(link), "") << "no link left behind";
        process next(
            {PANELSIM, "-l", link, "--", SENDER, link, "termios:19200:8N1", "write:" + HEX45});
        o = next.wait();
        if (o.err.find(" exists and is not a panel's link") == std::string::npos)
            break;
    }
    (void)unlink(link.c_str());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(CLEAN45), std::string::npos) << o.out;
}

// Asked to stop, the panel passes the signal on to the command, holds none
// of its calls any more, and ends with its summary, as a shell expects of
// a program the signal ended.
struct stop_case {
    const char *name;
    int signal;
    std::string command;     // run by sh after a clean frame, as its last command
    std::string ready;       // reported before the command is where the signal must find it
    std::vector<long> where; // the system calls the command is in then
    std::string summary;
};

class Stopped : public testing::TestWithParam<stop_case>
{
};

TEST_P(Stopped, EndsTheRunWithItsSummary)
{
    const auto &c = GetParam();
    process p({PANELSIM, "-l", LINK, "--", "sh", "-c",
               std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:" + HEX45 + "; " +
                   c.command});
    ASSERT_TRUE(p.shows(c.ready)) << "never reported: " << c.ready;
    ASSERT_TRUE(p.child_in_call(c.where)) << "the command never got there";
    kill(p.pid(), c.signal);
    const outcome o = p.wait(10000);
    EXPECT_EQ(o.status, 128 + c.signal) << o.err;
    EXPECT_NE(o.out.find(CLEAN45), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(c.summary), std::string::npos) << o.out;
    EXPECT_NE(access(LINK.c_str(), F_OK), 0) << "the link was left behind";
}

// sleep's call, by the C library's choice.
const std::vector<long> SLEEPING = {
#ifdef SYS_nanosleep
    SYS_nanosleep,
#endif
    SYS_clock_nanosleep};

INSTANTIATE_TEST_SUITE_P(
    Signals, Stopped,
    testing::Values(stop_case{"term_while_the_command_sleeps", SIGTERM, "sleep 30", CLEAN45,
                              SLEEPING, "panelsim: 1 frame received, 0 flagged\n"},
                    // 100 frames at 300 baud: their last close is held for 27 s.
                    stop_case{"interrupt_during_a_held_close",
                              SIGINT,
                              std::string(SENDER) + " " + LINK + " termios:300:8N1 write:00:800",
                              // its first frame has left; its exit, the last close, is held
                              "  300 8N1 raw",
                              {SYS_exit_group},
                              "panelsim: 101 frames received, 100 flagged\n"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Without a command nothing is watched: the panel cannot know the data bits
// and parity a program asked for, and says so on every frame.
TEST(PanelUse, UnwatchedFramesAreNeverClean)
{
    process panel({PANELSIM, "-l", LINK});
    ASSERT_TRUE(panel.shows("panelsim: the line is at ")) << "the panel never linked " << LINK;
    process s({SENDER, LINK, "termios:19200:7E1", "write:" + HEX45});
    EXPECT_EQ(s.wait().status, 0);
    const std::string unknown = "  45 01 01 01 01 01 00 00  19200 ??1 raw  !! settings unknown\n";
    EXPECT_TRUE(panel.shows(unknown)) << "the frame was never reported";
    kill(panel.pid(), SIGINT);
    const outcome o = panel.wait();
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find(unknown), std::string::npos) << o.out;
    EXPECT_NE(o.err.find("every frame is flagged \"settings unknown\""), std::string::npos);
}

// A program that keeps others out of its memory and descriptors, run by an
// unprivileged user: its request cannot be read, so its frames are not clean.
// Its change that waits for the output waits for it all the same: only the
// frame written after it leaves at 9600.
TEST(PanelUse, SettingsThatCannotBeReadAreUnknown)
{
    // The unprivileged user links its line in a folder made for it.
    std::string dir = testing::TempDir() + "panelsim_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr) << dir;
    const std::string link = dir + "/line";
    std::vector<std::string> argv = {PANELSIM, "-l", link, "--", SENDER, link, "undumpable"};
    argv.insert(argv.end(), {"termios:19200:7E1", "write:" + HEX45 + ":50",
                             "termios:9600:7E1:drain", "write:" + HEX45});
    if (geteuid() == 0) {
        EXPECT_EQ(chown(dir.c_str(), 65534, 65534), 0);
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    process p(argv);
    const outcome o = p.wait();
    EXPECT_EQ(rmdir(dir.c_str()), 0) << "the panel left its link behind";
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    // Without setpriv, or where the unprivileged user cannot run the panel.
    if (o.status == 126 || o.status == 127)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("  45 01 01 01 01 01 00 00  19200 ??1 raw  !! settings unknown\n"),
              std::string::npos)
        << o.out;
    const std::size_t slow = o.out.find("  9600 ??1 raw");
    EXPECT_NE(slow, std::string::npos) << o.out;
    EXPECT_EQ(slow, o.out.rfind("  9600 ??1 raw")) << o.out;
}

// A program the panel does not watch that has the line open, or is given it,
// may change it at any moment: from then on no frame is called clean. Each
// case's command opens the line at 19200 8N1 and goes on at GO, then waits
// for DONE. The program outside acts before GO, or (`first`) starts before
// the panel, waits for the line's descriptor and acts at GO.
struct outsider_case {
    const char *name;
    std::vector<std::string> command;
    std::vector<std::string> outside;
    bool first;
    std::string frame; // a frame the panel reports
};

class Outsider : public testing::TestWithParam<outsider_case>
{
};

const std::string GO = LINK + ".go";
const std::string DONE = LINK + ".done";
const std::string SOCKET = LINK + ".sock";
const std::string UNKNOWN_9600 =
    "  45 01 01 01 01 01 00 00  9600 ??1 raw  !! settings unknown; speed 9600, not 19200\n";
const std::string UNKNOWN_19200 = "  45 01 01 01 01 01 00 00  19200 ??1 raw  !! settings unknown\n";

void touch(const std::string &path)
{
    (void)close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
}

TEST_P(Outsider, IsNeverCalledClean)
{
    const auto &c = GetParam();
    (void)unlink(GO.c_str());
    (void)unlink(DONE.c_str());
    std::vector<std::string> argv = {PANELSIM, "-l", LINK, "--"};
    argv.insert(argv.end(), c.command.begin(), c.command.end());
    argv.push_back("wait:" + DONE);
    std::optional<process> outside;
    if (c.first)
        outside.emplace(c.outside);
    struct stat st {
    };
    for (int i = 0; c.first && i < 1000 && stat(SOCKET.c_str(), &st) != 0; i++)
        usleep(10000);
    process p(argv);
    // The command holds the line and waits for GO.
    ASSERT_TRUE(p.child_in_call(SLEEPING)) << "the command never got to its wait";
    if (!c.first) {
        outside.emplace(c.outside);
        EXPECT_EQ(outside->wait().status, 0);
    }
    touch(GO);
    if (c.first) {
        EXPECT_EQ(outside->wait().status, 0);
    }
    touch(DONE);
    const outcome o = p.wait();
    (void)unlink(GO.c_str());
    (void)unlink(DONE.c_str());
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find(c.frame), std::string::npos) << o.out;
    EXPECT_NE(o.err.find("a program the panel does not watch"), std::string::npos) << o.err;
}

// The command waits for GO, then writes a frame.
const std::vector<std::string> WAITS_THEN_WRITES = {SENDER, LINK, "termios:19200:8N1", "wait:" + GO,
                                                    "write:" + HEX45};

INSTANTIATE_TEST_SUITE_P(
    Unwatched, Outsider,
    testing::Values(outsider_case{"stty_from_another_terminal",
                                  WAITS_THEN_WRITES,
                                  {"stty", "-F", LINK, "9600"},
                                  false,
                                  UNKNOWN_9600},
                    // It changes what a pseudo-terminal keeps: that is seen.
                    outsider_case{"given_the_descriptor_it_sets_9600",
                                  {SENDER, LINK, "termios:19200:8N1", "pass:" + SOCKET},
                                  {SENDER, "take:" + SOCKET, "wait:" + GO, "termios:9600:8N1",
                                   "write:" + HEX45},
                                  true,
                                  UNKNOWN_9600},
                    // It changes only what a pseudo-terminal does not keep; the command
                    // has closed its own descriptor, and the line stayed open.
                    outsider_case{"given_the_descriptor_it_sets_7e1",
                                  {SENDER, LINK, "termios:19200:8N1", "pass:" + SOCKET, "close"},
                                  {SENDER, "take:" + SOCKET, "wait:" + GO, "termios:19200:7E1",
                                   "write:" + HEX45},
                                  true,
                                  UNKNOWN_19200},
                    // Its break does not reach a pseudo-terminal at all.
                    outsider_case{"a_break_from_another_program",
                                  WAITS_THEN_WRITES,
                                  {SENDER, LINK, "break"},
                                  false,
                                  UNKNOWN_19200}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// In a pid namespace whose /proc is another's, the panel would see other
// processes under its programs' pids: it refuses to start. With a /proc of
// its own it works as anywhere.
struct namespace_case {
    const char *name;
    bool mount_proc;
    int status;
    std::string said; // in standard output, or standard error for a refusal
};

class PidNamespace : public testing::TestWithParam<namespace_case>
{
};

TEST_P(PidNamespace, NeverJudgesByAnotherView)
{
    const auto &c = GetParam();
    std::vector<std::string> argv = {"unshare", "--pid", "--fork"};
    if (geteuid() != 0)
        argv.insert(argv.end(), {"--user", "--map-root-user"});
    if (c.mount_proc)
        argv.emplace_back("--mount-proc");
    argv.insert(argv.end(),
                {PANELSIM, "-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "write:" + HEX45});
    process p(argv);
    const outcome o = p.wait();
    if (o.err.rfind("unshare: ", 0) == 0)
        GTEST_SKIP() << "no pid namespace to be had here: " << o.err;
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE((c.status == 2 ? o.err : o.out).find(c.said), std::string::npos) << o.out << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Unshared, PidNamespace,
    testing::Values(namespace_case{"with_its_own_proc", true, 0, CLEAN45},
                    namespace_case{"with_the_hosts_proc", false, 2,
                                   "panelsim: /proc here is not of the panel's own pid namespace"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Started with standard output closed, the panel keeps the line off it: the
// command's standard output must not be the line's master side.
TEST(PanelUse, ClosedStandardOutputIsNotTheLine)
{
    process p(
        {PANELSIM, "-l", LINK, "--", "sh", "-c", "x=$(readlink /proc/$$/fd/1); echo \"$x\" >&2"},
        {.closed_out = true});
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "/dev/null\n");
}

// The very program that ships, unchanged, against a panel at /dev/ttyS1.
TEST(PanelUse, StandsAtDevTtyS1ForTheShippedProgram)
{
    const bool there_before = access("/dev/ttyS1", F_OK) == 0;
    process p({PANELSIM, "--dev-ttyS1", "--", PANEL45});
    const outcome o = p.wait();
    if (o.status == 3)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("  45 01 01 01 01 01 00 00  19200 8N1 raw\n"), std::string::npos) << o.out;
    // Outside the command's namespace nothing has changed.
    EXPECT_EQ(access("/dev/ttyS1", F_OK) == 0, there_before);
}

// A signal the command ignores or handles does not end its writes: the
// panel serves the line until every program on it has ended, and reports
// every byte a write was told was taken, at its time.
TEST(PanelEnd, ASignalTheCommandIgnoresLosesNoByte)
{
    process p({PANELSIM, "-l", LINK, "--", "sh", "-c",
               "trap '' INT; exec " + std::string(SENDER) + " " + LINK +
                   " termios:19200:8N1 write:" + HEX45 + ":1000"});
    // Half way through the 4.2 s the 8000 bytes take on the wire: the
    // signal must find the write under way (a time of the case, not a wait
    // for the panel).
    ASSERT_TRUE(p.shows(CLEAN45)) << "no frame reported";
    usleep(1200000);
    kill(p.pid(), SIGINT);
    const outcome o = p.wait();
    EXPECT_EQ(o.status, 128 + SIGINT) << o.err;
    EXPECT_NE(o.out.find("panelsim: 1000 frames received, 0 flagged\n"), std::string::npos)
        << o.out.substr(o.out.size() > 400 ? o.out.size() - 400 : 0);
}

// A run ended at once (a second signal, or a reader of the reports that went
// away) ends the command and all it started, removes its link, reports what
// had not left as cut short by the end of the run, and ends by that signal.
TEST(PanelEnd, AForcedEndLeavesNoProgramRunning)
{
    const std::string pids = testing::TempDir() + "panelsim_test.pids";
    (void)unlink(pids.c_str());
    // 100 frames at 300 baud take 27 s to leave; the command ignores both
    // signals, which the panel reads in the order of their numbers.
    process p({PANELSIM, "-l", LINK, "--", "sh", "-c",
               "trap '' INT TERM; sleep 60 & echo $$ $! >" + pids + "; " + SENDER + " " + LINK +
                   " termios:300:8N1 write:" + HEX45 + ":100; wait"});
    // The first frame has left: the pids are written, and 99 frames wait.
    ASSERT_TRUE(p.shows("  45 01 01 01 01 01 00 00  300 8N1 raw")) << "no frame at 300 baud";
    kill(p.pid(), SIGINT);
    kill(p.pid(), SIGTERM);
    const outcome o = p.wait(10000);
    EXPECT_EQ(o.status, 128 + SIGTERM) << o.err;
    EXPECT_NE(o.out.find("!! cut short by the end of the run: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("panelsim: "), std::string::npos) << o.out;
    EXPECT_NE(access(LINK.c_str(), F_OK), 0) << "the link was left behind";
    FILE *f = fopen(pids.c_str(), "re");
    ASSERT_NE(f, nullptr);
    char text[64] = {};
    const std::size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    (void)unlink(pids.c_str());
    char *next = text;
    for (int i = 0; i < 2; i++) {
        const long pid = strtol(next, &next, 10);
        ASSERT_GT(pid, 0) << std::string(text, n);
        EXPECT_NE(kill(static_cast<pid_t>(pid), 0), 0) << pid << " still runs";
    }
}

// A signal that comes while the command starts its next program reaches
// that program too: the run never waits for one the signal missed.
TEST(PanelEnd, ASignalReachesAProgramStartedAsItCame)
{
    const std::string command =
        std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:" + HEX45 + "; sleep 30";
    for (int round = 0; round < 20; round++) {
        process p({PANELSIM, "-l", LINK, "--", "sh", "-c", command});
        ASSERT_TRUE(p.shows(CLEAN45)) << "round " << round;
        kill(p.pid(), SIGTERM);
        const outcome o = p.wait(10000);
        ASSERT_EQ(o.status, 128 + SIGTERM) << "round " << round << ": " << o.err;
    }
}

TEST(PanelEnd, AReaderThatGoesAwayEndsTheRun)
{
    const std::string mark = testing::TempDir() + "panelsim_test.mark";
    (void)unlink(mark.c_str());
    process p({"bash", "-c",
               std::string(PANELSIM) + " --json -l " + LINK + " -- sh -c '" + HOST_PANEL45 +
                   "; sleep 1; touch " + mark + "' | head -1; echo \"status ${PIPESTATUS[0]}\""});
    const outcome o = p.wait();
    EXPECT_EQ(missing_in_order(o.out, {"{\"type\": \"frame\"", "\nstatus 141\n"}), "") << o.out;
    EXPECT_NE(access(LINK.c_str(), F_OK), 0) << "the link was left behind";
    // Past the second after which the command, had it run on, would have
    // left its mark: a time of the case, not a wait for the panel.
    usleep(1500000);
    EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the command ran on after the panel";
    (void)unlink(mark.c_str());
}

// With --json, standard output carries the panel's objects alone, one per
// line, and always ends with the summary; the command writes to standard
// error.
struct json_case {
    const char *name;
    std::vector<std::string> command;
    int status;
    std::string err; // found in standard error
};

class JsonStream : public testing::TestWithParam<json_case>
{
};

TEST_P(JsonStream, HoldsOnlyObjectsAndEndsWithTheSummary)
{
    const auto &c = GetParam();
    std::vector<std::string> argv = {PANELSIM, "--json", "-l", LINK, "--"};
    argv.insert(argv.end(), c.command.begin(), c.command.end());
    process p(argv);
    const outcome o = p.wait();
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    std::string last;
    for (std::size_t at = 0; at < o.out.size();) {
        const std::size_t end = o.out.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "an unfinished line: " << o.out.substr(at);
        last = o.out.substr(at, end - at);
        EXPECT_EQ(last.rfind("{\"type\": \"", 0), 0U) << last;
        EXPECT_EQ(last.back(), '}') << last;
        at = end + 1;
    }
    EXPECT_EQ(last.rfind("{\"type\": \"summary\"", 0), 0U) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, JsonStream,
    testing::Values(json_case{"a_program_that_prints", {HOST_PANEL45}, 0, "vfd_0x45 command\n"},
                    json_case{"a_usage_text_without_its_line_end",
                              {"sh", "-c", std::string(HOST_PANEL45) + " x"},
                              1,
                              "usage"},
                    json_case{"a_command_that_cannot_start",
                              {"/nonexistent/program"},
                              127,
                              "panelsim: cannot start /nonexistent/program"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// A call the kernel refuses, or answers its own way, gets the same answer
// under the panel as on a plain pseudo-terminal, and sends nothing that the
// kernel would not. The polls and selects are made while the transmit buffer
// is full, when the panel would hold them.
struct odd_case {
    const char *name;
    bool full;           // made while the transmit buffer is full
    std::string summary; // the panel's summary; empty: not looked at
};

class OddCall : public testing::TestWithParam<odd_case>
{
};

// The sender's steps for a case, on the line at path.
std::vector<std::string> odd_steps(const odd_case &c, const std::string &path)
{
    if (c.full)
        return {SENDER, path, "termios:300:8N1", "write:00:1000", std::string("odd:") + c.name,
                "flush"};
    return {SENDER, path, "termios:19200:8N1", std::string("odd:") + c.name};
}

TEST_P(OddCall, IsAnsweredAsTheKernelAnswersIt)
{
    const auto &c = GetParam();
    // The kernel's own answer, on a pseudo-terminal of the test's own.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    process plain(odd_steps(c, ptsname(master)));
    const outcome kernel = plain.wait();
    close(master);
    ASSERT_EQ(kernel.err.rfind(std::string("odd ") + c.name + ": ", 0), 0U) << kernel.err;

    std::vector<std::string> argv = {PANELSIM, "-l", LINK, "--"};
    const auto steps = odd_steps(c, LINK);
    argv.insert(argv.end(), steps.begin(), steps.end());
    process p(argv);
    const outcome o = p.wait();
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.err, kernel.err);
    EXPECT_NE(o.out.find(c.summary), std::string::npos) << o.out;
}

const std::string NOTHING_SENT = "panelsim: 0 frames received, 0 flagged\n";
const std::string ONE_CLEAN = "panelsim: 1 frame received, 0 flagged\n";

INSTANTIATE_TEST_SUITE_P(
    Kernel, OddCall,
    testing::Values(
        odd_case{"write_huge_count", false, NOTHING_SENT},
        // The kernel copies a write 2048 bytes at a time, each chunk whole.
        odd_case{"write_half_mapped", false, "panelsim: 256 frames received, 0 flagged\n"},
        odd_case{"write_read_only", false, NOTHING_SENT},
        odd_case{"writev_too_many", false, NOTHING_SENT},
        odd_case{"writev_negative_length", false, NOTHING_SENT},
        odd_case{"writev_bad_base", false, NOTHING_SENT}, odd_case{"poll_closed", true, ""},
        odd_case{"poll_over_limit", true, ""}, odd_case{"ppoll_bad_time", true, ""},
        odd_case{"ppoll_bad_mask_size", true, ""}, odd_case{"select_closed", true, ""},
        odd_case{"pselect_bad_time", true, ""},
        // On a descriptor opened with O_PATH every request fails
        // with EBADF and changes nothing: ten frames before a
        // flush on it leave whole, one after the others clean.
        odd_case{"opath_flush", false, "panelsim: 10 frames received, 0 flagged\n"},
        odd_case{"opath_tcsets", false, ONE_CLEAN}, odd_case{"opath_tcflow", false, ONE_CLEAN},
        odd_case{"opath_outq", false, ONE_CLEAN}, odd_case{"opath_tcgets", false, ONE_CLEAN}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

} // namespace
