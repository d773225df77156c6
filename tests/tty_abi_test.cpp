// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The terminal requests' records, in the kernel's own layouts
// (<asm/termbits.h>), read as the kernel reads them: a termio request
// replaces only the low 16 bits of each flag word, and a speed given apart
// (BOTHER) comes from the record's speed fields, or stays the line's where
// the record has none. The serial driver's records lie where a program of
// each ABI declares their fields, in its byte order.
#include "serial_abi.h"
#include "tty_abi.h"

#include <gtest/gtest.h>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <linux/serial.h>
#include <string>
#include <sys/ioctl.h>
#include <vector>

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

// A value in a byte order, as the host stores it.
template <class T> T in_order(T v, byte_order order)
{
    if (order == HOST_ORDER || sizeof v == 1)
        return v;
    if constexpr (sizeof v == 2)
        return static_cast<T>(__builtin_bswap16(static_cast<std::uint16_t>(v)));
    else if constexpr (sizeof v == 4)
        return static_cast<T>(__builtin_bswap32(static_cast<std::uint32_t>(v)));
    else
        return static_cast<T>(__builtin_bswap64(static_cast<std::uint64_t>(v)));
}

// struct serial_struct as a program declares it, with pointer-sized fields
// of Word: 8 bytes for a 64-bit program, 4 for a 32-bit one (the kernel's
// compat_serial_struct, whose last field is a reserved int).
template <class Word> struct serial_fields {
    std::int32_t type, line;
    std::uint32_t port;
    std::int32_t irq, flags, xmit_fifo_size, custom_divisor, baud_base;
    std::uint16_t close_delay;
    std::uint8_t io_type, reserved_char;
    std::int32_t hub6;
    std::uint16_t closing_wait, closing_wait2;
    alignas(Word) Word iomem_base;
    std::uint16_t iomem_reg_shift;
    std::uint32_t port_high;
    alignas(Word) Word iomap_base;
};
static_assert(sizeof(serial_fields<std::uint64_t>) == 72 &&
              sizeof(serial_fields<std::uint32_t>) == 60);

template <class Word> std::vector<unsigned char> laid_out(const serial_record &r, byte_order o)
{
    serial_fields<Word> f{};
    f.type = in_order(r.type, o);
    f.line = in_order(r.line, o);
    f.port = in_order(r.port, o);
    f.irq = in_order(r.irq, o);
    f.flags = in_order(r.flags, o);
    f.xmit_fifo_size = in_order(r.xmit_fifo_size, o);
    f.custom_divisor = in_order(r.custom_divisor, o);
    f.baud_base = in_order(r.baud_base, o);
    f.close_delay = in_order(static_cast<std::uint16_t>(r.close_delay), o);
    f.io_type = static_cast<std::uint8_t>(r.io_type);
    f.hub6 = in_order(r.hub6, o);
    f.closing_wait = in_order(static_cast<std::uint16_t>(r.closing_wait), o);
    f.iomem_base = in_order(static_cast<Word>(r.iomem_base), o);
    f.iomem_reg_shift = in_order(static_cast<std::uint16_t>(r.iomem_reg_shift), o);
    f.port_high = in_order(r.port_high, o);
    f.iomap_base = in_order(static_cast<Word>(r.iomap_base), o);
    std::vector<unsigned char> bytes(sizeof f);
    memcpy(bytes.data(), &f, sizeof f);
    return bytes;
}

struct serial_layout_case {
    const char *name;
    unsigned pointer_bytes;
    byte_order order;
};

class SerialRecord : public testing::TestWithParam<serial_layout_case>
{
};

TEST_P(SerialRecord, LiesWhereTheCallersStructHasItsFields)
{
    const auto &c = GetParam();
    serial_record r;
    r.type = PORT_16550A;
    r.line = 1;
    r.port = 0x2f8;
    r.irq = -3;
    r.flags = static_cast<int>(ASYNC_BOOT_AUTOCONF | ASYNC_SPD_CUST);
    r.xmit_fifo_size = 16;
    r.custom_divisor = 6;
    r.baud_base = 115200;
    r.close_delay = 50;
    r.io_type = SERIAL_IO_MEM32;
    r.hub6 = 7;
    r.closing_wait = ASYNC_CLOSING_WAIT_NONE;
    r.iomem_base = 0xfe001000;
    r.iomem_reg_shift = 2;
    r.port_high = 9;
    // Only a 64-bit program's record has room for the cookie.
    r.iomap_base = c.pointer_bytes == 8 ? 0x1122334455667788 : 0;
    const record_layout layout{c.pointer_bytes, c.order};
    const auto expected = c.pointer_bytes == 8 ? laid_out<std::uint64_t>(r, c.order)
                                               : laid_out<std::uint32_t>(r, c.order);
    ASSERT_EQ(serial_record_size(layout), expected.size());
    std::vector<unsigned char> written(expected.size(), 0xaa);
    put_serial_record(r, written, layout);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(get_serial_record(expected, layout), r);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SerialRecord,
                         testing::Values(serial_layout_case{"le64", 8, byte_order::little},
                                         serial_layout_case{"be64", 8, byte_order::big},
                                         serial_layout_case{"le32", 4, byte_order::little},
                                         serial_layout_case{"be32", 4, byte_order::big}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

// The counters lie in the kernel's struct serial_icounter_struct, whatever
// the ABI; the reserved ints are 0.
TEST(LineCounts, LieWhereTheKernelsStructHasThem)
{
    static_assert(sizeof(serial_icounter_struct) == COUNTS_RECORD_SIZE);
    const line_counts c{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (const byte_order o : {byte_order::little, byte_order::big}) {
        serial_icounter_struct k{};
        k.cts = in_order(1, o);
        k.dsr = in_order(2, o);
        k.rng = in_order(3, o);
        k.dcd = in_order(4, o);
        k.rx = in_order(5, o);
        k.tx = in_order(6, o);
        k.frame = in_order(7, o);
        k.overrun = in_order(8, o);
        k.parity = in_order(9, o);
        k.brk = in_order(10, o);
        k.buf_overrun = in_order(11, o);
        unsigned char written[COUNTS_RECORD_SIZE];
        memset(written, 0xaa, sizeof written);
        put_line_counts(c, written, o);
        EXPECT_EQ(memcmp(written, &k, sizeof k), 0) << (o == byte_order::little ? "le" : "be");
    }
}

} // namespace
