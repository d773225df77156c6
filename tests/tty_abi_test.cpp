// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The terminal requests' records, in the kernel's own layouts
// (<asm/termbits.h>), read as the kernel reads them: a termio request
// replaces only the low 16 bits of each flag word, and a speed given apart
// (BOTHER) comes from the record's speed fields, or stays the line's where
// the record has none.
#include "tty_abi.h"

#include <gtest/gtest.h>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstring>
#include <iterator>
#include <string>
#include <sys/ioctl.h>

namespace
{

// What the line was set to before a request.
line_settings current(unsigned cflag, long baud, long in_baud = 0)
{
    line_settings s;
    s.cflag = cflag;
    s.baud = baud;
    s.in_baud = in_baud;
    s.iflag = 0x00050000U | IXON;
    s.stop_char = 1;
    s.start_char = 2;
    return s;
}

struct termio_case {
    const char *name;
    unsigned before;      // the line's c_cflag
    long before_baud;     // and its speed
    unsigned short asked; // the termio record's c_cflag
    unsigned cflag;       // the flags after the request
    long baud, in_baud;   // the speeds after it
    int data_bits;
    char parity;
    int stop_bits;
};

class Termio : public testing::TestWithParam<termio_case>
{
};

TEST_P(Termio, ReplacesOnlyTheLowSixteenBitsOfEachFlag)
{
    const auto &c = GetParam();
    const line_settings now = current(c.before, c.before_baud, 4800);
    termio t{};
    t.c_iflag = ICRNL;
    t.c_oflag = OPOST;
    t.c_lflag = 0;
    t.c_cflag = c.asked;
    memset(t.c_cc, 0x7f, sizeof t.c_cc);
    const line_settings s = settings_from(tty_op::set_termio, &t, now);
    EXPECT_EQ(s.cflag, c.cflag);
    EXPECT_EQ(s.iflag, 0x00050000U | ICRNL);
    EXPECT_EQ(s.oflag, static_cast<unsigned>(OPOST));
    EXPECT_EQ(s.baud, c.baud);
    EXPECT_EQ(s.in_baud, c.in_baud);
    EXPECT_EQ(s.data_bits, c.data_bits);
    EXPECT_EQ(s.parity, c.parity);
    EXPECT_EQ(s.stop_bits, c.stop_bits);
    // termio's few control characters reach neither VSTOP nor VSTART.
    EXPECT_EQ(s.stop_char, VSTOP < std::size(t.c_cc) ? 0x7f : 1);
    EXPECT_EQ(s.start_char, VSTART < std::size(t.c_cc) ? 0x7f : 2);
}

constexpr unsigned HIGH = CMSPAR | CRTSCTS | (B4800 << IBSHIFT);

INSTANTIATE_TEST_SUITE_P(
    Records, Termio,
    testing::Values(
        // Mark parity, flow control and the input speed stay: they lie above bit 15.
        termio_case{"high_bits_stay", B19200 | CS8 | CREAD | HIGH, 19200,
                    B9600 | CS7 | PARENB | PARODD | CREAD,
                    HIGH | B9600 | CS7 | PARENB | PARODD | CREAD, 9600, 4800, 7, 'M', 1},
        termio_case{"low_bits_replaced", B19200 | CS7 | PARENB | PARODD | CSTOPB | CREAD, 19200,
                    B19200 | CS8 | CREAD, B19200 | CS8 | CREAD, 19200, 0, 8, 'N', 1},
        // A termio record has no speed field: BOTHER keeps the line's speed.
        termio_case{"speed_given_apart", BOTHER | CS8 | CREAD, 250000, BOTHER | CS8 | CREAD,
                    BOTHER | CS8 | CREAD, 250000, 0, 8, 'N', 1}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(Termios, ReadsTheFramingAndControlCharacters)
{
    struct termios t {
    };
    t.c_cflag = B19200 | CS7 | PARENB | PARODD | CSTOPB | CREAD;
    t.c_cc[VSTOP] = 5;
    t.c_cc[VSTART] = 6;
    const line_settings s = settings_from(tty_op::set_termios, &t, current(0, 9600));
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.in_baud, 0);
    EXPECT_EQ(describe(s).rfind("19200 7O2", 0), 0U) << describe(s);
    EXPECT_EQ(s.stop_char, 5);
    EXPECT_EQ(s.start_char, 6);
}

#ifdef TCSETS2
// A termios2 record carries the speeds given apart.
TEST(Termios2, TakesBotherSpeedsFromTheRecord)
{
    termios2 t{};
    t.c_cflag = BOTHER | CS8 | CREAD | (BOTHER << IBSHIFT);
    t.c_ospeed = 250000;
    t.c_ispeed = 31250;
    const line_settings s = settings_from(tty_op::set_termios2, &t, current(0, 19200));
    EXPECT_EQ(s.baud, 250000);
    EXPECT_EQ(s.in_baud, 31250);
    EXPECT_EQ(s.data_bits, 8);
    EXPECT_EQ(s.parity, 'N');
    // A speed code wins over the record's speed fields.
    t.c_cflag = B57600 | CS8 | CREAD;
    EXPECT_EQ(settings_from(tty_op::set_termios2, &t, current(0, 19200)).baud, 57600);
}

// The old termios record has no speed fields here: BOTHER keeps the line's.
TEST(Termios, KeepsTheLinesSpeedForBother)
{
    struct termios t {
    };
    t.c_cflag = BOTHER | CS8 | CREAD;
    EXPECT_EQ(settings_from(tty_op::set_termios, &t, current(0, 115200)).baud, 115200);
}
#else
// Where termios carries the speeds (powerpc), BOTHER takes them from it.
TEST(Termios, TakesBotherSpeedsFromTheRecord)
{
    struct termios t {
    };
    t.c_cflag = BOTHER | CS8 | CREAD;
    t.c_ospeed = 250000;
    EXPECT_EQ(settings_from(tty_op::set_termios, &t, current(0, 115200)).baud, 250000);
}
#endif

TEST(Records, HaveTheKernelsSizes)
{
    EXPECT_EQ(record_size(tty_op::set_termios), sizeof(struct termios));
#ifdef TCSETS2
    EXPECT_EQ(record_size(tty_op::set_termios2), sizeof(termios2));
#endif
    EXPECT_EQ(record_size(tty_op::set_termio), sizeof(termio));
    EXPECT_EQ(record_size(tty_op::drain), 0U);
    EXPECT_EQ(record_size(tty_op::get_termios), 0U);
}

TEST(Requests, AreFoundByTheirNumbers)
{
    for (const tty_request &r : TTY_REQUESTS)
        EXPECT_EQ(find_request(r.number), &r) << "request " << r.number << " listed twice";
    EXPECT_EQ(find_request(TIOCGWINSZ), nullptr);
    // The W and F forms wait for the output to leave; the plain ones do not.
    const struct {
        unsigned number;
        tty_op op;
        bool drain_first;
    } some[] = {
        {TCSETS, tty_op::set_termios, false}, {TCSETSW, tty_op::set_termios, true},
        {TCSETAF, tty_op::set_termio, true},  {TCSETA, tty_op::set_termio, false},
        {TCSBRK, tty_op::drain, false},       {TCGETA, tty_op::get_termio, false},
    };
    for (const auto &w : some) {
        const tty_request *r = find_request(w.number);
        ASSERT_NE(r, nullptr) << w.number;
        EXPECT_EQ(r->op, w.op) << w.number;
        EXPECT_EQ(r->drain_first, w.drain_first) << w.number;
    }
}

} // namespace
