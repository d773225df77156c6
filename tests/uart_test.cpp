// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The virtual panel as a UART under stress: what a program's calls do to
// the bytes on the wire when they change the line under queued bytes,
// suspend it, break it, fill its buffer, close it while others open it, or
// when the panel itself is slow; and what the UART's driver answers about
// its modem lines, its transmitter and its setup.
#include "frames_of.h"
#include "process.h"
#include "split.h"
#include "watch_required.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

const std::string LINK = UART_LINK;
const std::string FRAME = "4501010101010000";
const std::string CLEAN = "  45 01 01 01 01 01 00 00  19200 8N1 raw\n";

std::vector<std::string> sender(std::vector<std::string> steps)
{
    steps.insert(steps.begin(), {"--", SENDER, LINK});
    return steps;
}

// A run of the panel at link around args.
outcome run_panel(const std::vector<std::string> &args, const std::string &link = LINK)
{
    std::vector<std::string> argv = {PANELSIM, "-l", link};
    argv.insert(argv.end(), args.begin(), args.end());
    process p(argv);
    return p.wait(60000);
}

struct uart_case {
    const char *name;
    std::vector<std::string> args; // after panelsim -l LINK
    int status;
    std::vector<std::string> out; // found in standard output, in order
};

class Uart : public testing::TestWithParam<uart_case>
{
};

TEST_P(Uart, PutsOnTheWireWhatAUartWould)
{
    const auto &c = GetParam();
    const outcome o = run_panel(c.args);
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    // A way of closing that this machine does not offer.
    if (o.status == 77)
        GTEST_SKIP() << o.err;
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_EQ(missing_in_order(o.out, c.out), "") << "in:\n" << o.out;
}

// A shell's wait until the process $p is in system call nr, or has ended.
std::string until_in(long nr)
{
    return "while :; do case \"$(cat /proc/$p/stat 2>/dev/null)\" in ''|*') Z '*) break;; esac; "
           "grep -q '^" +
           std::to_string(nr) + " ' /proc/$p/syscall 2>/dev/null && break; sleep 0.005; done; ";
}

// A script that starts a sender whose last close of the line is held while
// its 100 frames leave, and opens the line again while it is.
std::string open_during_a_close()
{
    return std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:" + FRAME +
           ":100 close & p=$!; " + until_in(SYS_close) + SENDER + " " + LINK +
           " termios:9600:8N1 write:" + FRAME;
}

// Rounds of four programs that each put two bytes of a frame on the line
// and close it at one moment; then another sets the speed at once. Only the
// last of the closes waits for the bytes, and it must be one of them. The
// short sleeps are the case's own: the four gather before the go, and the
// rounds stand apart on the line.
std::string closes_at_one_moment()
{
    const std::string go = LINK + ".go";
    const std::string one =
        std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:HEX wait:" + go + " close & ";
    std::string round;
    for (const char *hex : {"4501", "0101", "0101", "0000"})
        round += std::string(one).replace(one.find("HEX"), 3, hex);
    return "for i in $(seq 20); do rm -f " + go + "; " + round + "sleep 0.05; : > " + go +
           "; wait; " + SENDER + " " + LINK + " termios:9600:8N1; sleep 0.11; done; rm -f " + go;
}

// A sender that writes 100 frames and ends with a last close the panel
// must hold however it comes, then another program that sets 9600 at once:
// on a UART the close waits for the frames, so none leaves at 9600. Status 77
// where the way of closing is not to be had.
std::string closed_by(const std::string &how)
{
    return std::string(SENDER) + " " + LINK + " termios:19200:8N1 write:" + FRAME + ":100 " + how +
           "; r=$?; " + SENDER + " " + LINK + " termios:9600:8N1; exit $r";
}

INSTANTIATE_TEST_SUITE_P(
    Stress, Uart,
    testing::Values(
        // A change at once reaches the bytes still queued, whatever it
        // changes. Output suspended after the first byte holds the rest
        // queued for it, however late the change comes.
        uart_case{"flow_control_from_a_later_byte",
                  sender({"termios:300:8N1", "write:45", "flow:ooff", "write:010101",
                          "termios:300:8N1+crtscts", "flow:oon", "write:01010000"}),
                  1,
                  {"  45 01 01 01 01 01 00 00  300 8N1 raw  !! speed 300, not 19200; settings "
                   "changed from byte 2: 300 8N1 crtscts; RTS/CTS flow control\n"}},
        // Suspended after a frame's first byte: the frames written then
        // wait, and leave 300 ms later, out of step by that byte.
        uart_case{"output_suspended_in_a_frame",
                  sender({"termios:1200:8N1", "write:45", "flow:ooff", "write:" + FRAME + ":30",
                          "sleep:300", "flow:oon"}),
                  1,
                  {"!! short frame: ", "panelsim: 31 frames received, 31 flagged\n"}},
        // The stop character goes as soon as the line is free, even while
        // the output is suspended: after the byte on the wire, ahead of
        // those held back.
        uart_case{"stop_character_ahead_of_the_queue",
                  sender({"termios:300:8N1", "write:45", "flow:ooff", "write:010101", "flow:ioff",
                          "flow:oon", "write:01010000"}),
                  1,
                  {"  45 13 01 01 01 01 01 00  300 8N1 raw  !! speed 300, not 19200\n",
                   "  00                       300 8N1 raw  !! 1 byte left over; speed 300, not "
                   "19200\n"}},
        // A full buffer: poll and select see another descriptor ready but
        // not the line, a write that must not wait takes what fits, then
        // nothing; once drained, the line takes output again.
        uart_case{"full_buffer_seen_by_poll_select_and_writes",
                  sender({"termios:300:8N1", "write:00:1000", "poll:100", "select:100", "nonblock",
                          "offer:00:4000", "offer:00", "flush", "poll:1000"}),
                  1,
                  {"poll: line full, input ready\n", "select: line full, input ready\n",
                   "took some\n", "EAGAIN\n", "poll: line takes output, input ready\n"}},
        uart_case{"hung_up",
                  sender({"termios:0:8N1", "write:" + FRAME}),
                  1,
                  {"  45 01 01 01 01 01 00 00  B0 8N1 raw  !! speed B0 (hung up: sent at 9600), "
                   "not 19200\n"}},
        uart_case{"closed_by_an_exec",
                  sender({"termios:19200:8N1", "cloexec", "write:" + FRAME, "exec", SENDER, LINK,
                          "termios:9600:8N1"}),
                  0,
                  {CLEAN, "panelsim: 1 frame received, 0 flagged\n"}},
        uart_case{"open_during_a_last_close",
                  {"--", "sh", "-c", open_during_a_close()},
                  1,
                  {"panelsim: 101 frames received, 1 flagged\n"}},
        uart_case{"closes_at_one_moment",
                  {"--", "sh", "-c", closes_at_one_moment()},
                  0,
                  {"panelsim: 20 frames received, 0 flagged\n"}},
        uart_case{"last_close_by_the_threads_own_exit",
                  {"--", "sh", "-c", closed_by("exit")},
                  0,
                  {"panelsim: 100 frames received, 0 flagged\n"}},
        // A close the panel does not see: the next open waits all the same.
        uart_case{"last_close_through_io_uring",
                  {"--", "sh", "-c", closed_by("uring_close")},
                  0,
                  {"panelsim: 100 frames received, 0 flagged\n"}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Frames written at once, then the speed changed at once: only what the
// transmit buffer still holds leaves at the new speed. The line discipline
// wakes a blocked writer when fewer than 256 bytes wait, so the write of
// 8000 bytes returns with about 255 + 64 of them queued (40 frames); a
// larger buffer takes them all at once (1000). The change comes when the
// sender gets to it: the bounds leave it about 160 ms, the time those 319
// bytes, or 40 frames, take to leave.
struct buffer_case {
    const char *name;
    const char *size;
    int least_flagged;
    int most_flagged;
};

class Buffer : public testing::TestWithParam<buffer_case>
{
};

TEST_P(Buffer, HoldsTheWriterBack)
{
    const auto &c = GetParam();
    const outcome o = run_panel({"-b", c.size, "--", SENDER, LINK, "termios:19200:8N1",
                                 "write:" + FRAME + ":1000", "termios:9600:8N1"});
    const std::size_t at = o.out.rfind("panelsim: 1000 frames received, ");
    ASSERT_NE(at, std::string::npos)
        << o.out.substr(o.out.size() > 200 ? o.out.size() - 200 : 0) << o.err;
    const long flagged = strtol(o.out.c_str() + at + 32, nullptr, 10);
    EXPECT_GE(flagged, c.least_flagged);
    EXPECT_LE(flagged, c.most_flagged);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Buffer,
                         testing::Values(buffer_case{"page", "4096", 1, 45},
                                         buffer_case{"large_page", "65536", 960, 1000}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

// A panel stopped for a while does not change the verdict: each byte is
// timed by its write, which waits for the panel, not by when the panel got
// to read it. Two halves 150 ms apart are two frames cut short.
TEST(UartTiming, DoesNotDependOnThePanelsLuck)
{
    process p({PANELSIM, "-l", LINK, "--", SENDER, LINK, "termios:19200:8N1", "sleep:200",
               "write:45010101", "sleep:150", "write:01010000"});
    usleep(100000);
    kill(p.pid(), SIGSTOP);
    usleep(400000);
    kill(p.pid(), SIGCONT);
    const outcome o = p.wait(30000);
    EXPECT_NE(o.out.find("  45 01 01 01              19200 8N1 raw  !! short frame: 4 of 8 bytes\n"
                         "panel "),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("panelsim: 2 frames received, 2 flagged\n"), std::string::npos);
}

// A port that holds more than the send's 5 s bound of output, but drains,
// is waited for: the frame of the host build's panel45 leaves whole after it.
TEST(UartTiming, ABusyPortThatDrainsIsWaitedFor)
{
    const outcome o =
        run_panel({"-b", "16384", "--", "sh", "-c",
                   std::string(SENDER) + " " + PANEL_LINE +
                       " termios:19200:8N1 write:46494c4c45520000:2047 " + "sleep:1000 & p=$!; " +
                       until_in(SYS_clock_nanosleep) + HOST_PANEL45},
                  PANEL_LINE);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(CLEAN + "panelsim: 2048 frames received, 0 flagged\n"), std::string::npos)
        << o.out.substr(o.out.size() > 300 ? o.out.size() - 300 : 0);
}

// A shell's wait until the process $p is in an ioctl of the request named,
// or has ended.
std::string until_asking(unsigned long request)
{
    char args[64];
    snprintf(args, sizeof args, "^%ld 0x[0-9a-f]* %#lx ", static_cast<long>(SYS_ioctl), request);
    return "while :; do case \"$(cat /proc/$p/stat 2>/dev/null)\" in ''|*') Z '*) break;; esac; "
           "grep -q '" +
           std::string(args) + "' /proc/$p/syscall 2>/dev/null && break; sleep 0.005; done; ";
}

// A sender in loopback waits for RI with TIOCMIWAIT while another raises
// and drops OUT1, looped to RI: only the ring's end, its trailing edge,
// ends the wait. (Whatever the other's open does to DTR and RTS, CTS and
// DSR are not waited for.)
std::string wait_for_a_ring()
{
    return std::string(SENDER) + " " + LINK +
           " termios:19200:8N1 modem:set:loop modem:wait:ri counts & p=$!; " +
           until_asking(TIOCMIWAIT) + SENDER + " " + LINK + " modem:bis:out1 modem:bic:out1; wait";
}

INSTANTIATE_TEST_SUITE_P(
    Driver, Uart,
    testing::Values(
        // Open, the driver raises DTR, RTS and OUT2; with TX, RX and ground
        // alone wired, no input is ever active.
        uart_case{"modem_lines_set_and_read_back",
                  sender({"termios:19200:8N1", "modem", "modem:bic:rts", "modem",
                          "modem:bis:rts+out1", "modem", "modem:set:dtr", "modem"}),
                  0,
                  {"modem: dtr rts out2\n", "modem: dtr out2\n", "modem: dtr rts out1 out2\n",
                   "modem: dtr\n"}},
        uart_case{"loopback_ties_the_inputs_to_the_outputs",
                  sender({"termios:19200:8N1", "modem:set:loop", "modem",
                          "modem:bis:dtr+rts+out1+out2", "modem", "modem:bic:out1+rts", "modem"}),
                  0,
                  {"modem: loop\n", "modem: dtr rts out1 out2 loop cts dsr ri cd\n",
                   "modem: dtr out2 loop dsr cd\n"}},
        uart_case{"b0_drops_dtr_and_rts",
                  sender({"termios:19200:8N1", "modem", "termios:0:8N1", "modem",
                          "termios:9600:8N1", "modem"}),
                  0,
                  {"modem: dtr rts out2\n", "modem: out2\n", "modem: dtr rts out2\n"}},
        uart_case{"modem_wait_ends_at_a_ring_in_loopback",
                  {"--", "sh", "-c", wait_for_a_ring()},
                  0,
                  {", ri 1, cd 0\n"}},
        // 80 bytes at 300 baud take 2.7 s: held back by suspended output,
        // they leave the transmitter empty; once they may leave, it is not
        // until the drain.
        uart_case{"transmitter_empty_as_the_wire_says",
                  sender({"termios:300:8N1", "flow:ooff", "write:" + FRAME + ":10", "lsr",
                          "flow:oon", "lsr", "drain", "lsr"}),
                  1,
                  {"lsr: empty\n", "lsr: sending\n", "lsr: empty\n"}},
        uart_case{"counts_the_characters_sent",
                  sender({"termios:19200:8N1", "write:" + FRAME + ":3", "drain", "counts"}),
                  0,
                  {"counts: tx 24, cts 0, dsr 0, ri 0, cd 0\n"}},
        uart_case{"setup_of_a_16550a_at_ttys1",
                  sender({"serial"}),
                  0,
                  {"serial: type 4, line 1, port 0x2f8, irq 3, flags 0x10000040, fifo 16, base "
                   "115200, close_delay 50, closing_wait 3000, divisor 0\n"}},
        // Anyone may set the aliases of 38400: spd_cust with a divisor of
        // 6 sends it at 19200, spd_hi at 57600; the reports say what left.
        uart_case{
            "speed_aliases_reach_the_wire",
            sender({"termios:38400:8N1", "serial:spd=cust:divisor=6", "write:" + FRAME, "drain",
                    "serial:spd=hi", "write:" + FRAME}),
            1,
            {CLEAN, "  45 01 01 01 01 01 00 00  57600 8N1 raw  !! speed 57600, not 19200\n"}}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

// Whether this test runs with CAP_SYS_ADMIN in the initial user namespace,
// as the panel tells a privileged program.
bool privileged()
{
    struct stat st {
    };
    return geteuid() == 0 && stat("/proc/self/ns/user", &st) == 0 && st.st_ino == 0xEFFFFFFDU;
}

// Without CAP_SYS_ADMIN (taken from root by setpriv) the closing wait
// stays; with it, ASYNC_CLOSING_WAIT_NONE makes the last close drop what
// has not left.
TEST(SerialSetup, OnlyThePrivilegedChangeTheClosingWait)
{
    std::vector<std::string> args = {"--", SENDER, LINK, "serial:closing_wait=none"};
    if (geteuid() == 0)
        args.insert(args.begin() + 1, {"setpriv", "--bounding-set=-sys_admin"});
    const outcome refused = run_panel(args);
    if (watch_missing(refused.err))
        GTEST_SKIP() << refused.err;
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("sender: serial:closing_wait=none: Operation not permitted\n"),
              std::string::npos)
        << refused.err;
    if (!privileged())
        GTEST_SKIP() << "the privileged half needs root in the initial user namespace";
    const outcome o = run_panel(
        sender({"termios:300:8N1", "write:" + FRAME + ":10", "serial:closing_wait=none"}));
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(missing_in_order(o.out, {"!! cut short by a flush of output: ",
                                       "panelsim: 1 frame received, 1 flagged\n"}),
              "")
        << o.out;
}

// pyserial, a real client: the inputs read as inactive, and RTS and DTR
// are dropped without an error.
TEST(SerialClient, PyserialReadsAndSetsTheModemLines)
{
    const outcome o = run_panel({"--", "/usr/bin/python3", "-c",
                                 "import sys\n"
                                 "try:\n"
                                 "    import serial\n"
                                 "except ImportError:\n"
                                 "    sys.exit(77)\n"
                                 "s = serial.Serial(sys.argv[1], 19200)\n"
                                 "print('inputs', s.cts, s.dsr, s.ri, s.cd)\n"
                                 "s.rts = False\n"
                                 "s.dtr = False\n"
                                 "print('set')\n",
                                 LINK});
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    if (o.status == 77)
        GTEST_SKIP() << "no python3-serial";
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(missing_in_order(o.out, {"inputs False False False False\n", "set\n"}), "")
        << o.out << o.err;
}

// The cases of breaks that the panel and sigrok's vfd_panel share
// (tests/break_cases.tsv): each sender's frames, as the panel reports them,
// around a real sender (held, at_arrival) or played at exact times on the
// panel's own line (timed).
struct break_case {
    std::string name;
    std::string mode;
    std::vector<std::string> steps;
    std::string frames;
};

std::vector<break_case> break_cases()
{
    std::string text;
    if (std::FILE *f = std::fopen(BREAK_CASES, "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
    }
    std::vector<break_case> cases;
    for (const auto &line : split(text, '\n')) {
        const auto cols = split(line, '\t');
        if (line.empty() || line[0] == '#' || cols.size() != 4)
            continue;
        const auto modes = split(cols[1], ',');
        std::transform(
            modes.begin(), modes.end(), std::back_inserter(cases), [&](const std::string &mode) {
                return break_case{cols[0] + "_" + mode, mode, split(cols[2], ' '), cols[3]};
            });
    }
    return cases;
}

class Breaks : public testing::TestWithParam<break_case>
{
};

// The panel's reports of a case: around a real sender, or played on its own
// line by a script.
outcome play(const break_case &c)
{
    if (c.mode == "timed") {
        std::vector<std::string> argv = {LINE_SCRIPT};
        argv.insert(argv.end(), c.steps.begin(), c.steps.end());
        process p(argv);
        return p.wait(60000);
    }
    std::vector<std::string> args = {"--json"};
    if (c.mode == "at_arrival")
        args.emplace_back("-a");
    args.insert(args.end(), {"--", SENDER, LINK, "termios:19200:8N1"});
    args.insert(args.end(), c.steps.begin(), c.steps.end());
    return run_panel(args);
}

TEST_P(Breaks, AreReceivedAsA16550ReceivesThem)
{
    const auto &c = GetParam();
    const outcome o = play(c);
    if (watch_missing(o.err))
        GTEST_SKIP() << o.err;
    EXPECT_EQ(frames_of(o.out), c.frames) << o.out << o.err;
}

INSTANTIATE_TEST_SUITE_P(Shared, Breaks, testing::ValuesIn(break_cases()),
                         [](const auto &param_info) { return param_info.param.name; });

} // namespace
