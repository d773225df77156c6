// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// tty_abi: the kernel's terminal interface, as the panel reads it.
//
// The requests a program makes of a terminal with ioctl, and the records
// they carry, in the kernel's own layouts (struct termios, termios2 and the
// System V termio), which differ between processor families: powerpc, for
// one, has no termios2 and carries the speeds in struct termios. A request
// for settings becomes line_settings; a termio request replaces only the low
// 16 bits of each flag word, and a speed given apart (BOTHER) is taken from
// the record's speed field.
//
// A UART keeps the character size, parity and receiver switch it is given; a
// pseudo-terminal forces 8 bits, no parity and the receiver on, whatever was
// asked. So a request for the settings is answered with the terminal's own
// record, those bits taken from what the line was last set to. The C library
// reads the settings back after tcsetattr(TCSANOW) and fails the call when
// they differ: answered from the terminal alone, a change to 7E1 would fail.
//
// TTY_REQUESTS    every request the panel watches, and what it does to the line
// find_request    the entry for a request number, or null
// record_size     how many bytes of the program's memory a request carries
// settings_from   the settings a request's record asks for
// read_settings   the settings a terminal reports, as line_settings
// read_record     the whole record of a terminal's settings, to tell a change by
// report_settings the record a request for the settings gets from a UART
#ifndef TTY_ABI_H
#define TTY_ABI_H

#include "settings.h"

#include <array>
#include <cstddef>
#include <span>

enum class tty_op {
    set_termios,  // TCSETS*
    set_termios2, // TCSETS*2
    set_termio,   // TCSETA*
    drain,        // TCSBRK with a non-zero argument: tcdrain
    brk,          // TCSBRK 0 or TCSBRKP: drain, then a break of a given length
    break_on,     // TIOCSBRK: the line low at once, until TIOCCBRK
    break_off,    // TIOCCBRK
    flush,        // TCFLSH
    flow,         // TCXONC: tcflow
    outq,         // TIOCOUTQ: how many bytes wait to be sent
    get_termios,  // TCGETS
    get_termios2, // TCGETS2
    get_termio,   // TCGETA
    modem_get,    // TIOCMGET: the modem-control lines
    modem_bis,    // TIOCMBIS: outputs raised
    modem_bic,    // TIOCMBIC: outputs dropped
    modem_set,    // TIOCMSET: the outputs set
    modem_wait,   // TIOCMIWAIT: wait for a change of inputs
    get_icount,   // TIOCGICOUNT: the interrupt counters
    get_lsr,      // TIOCSERGETLSR: whether the transmitter is empty
    get_serial,   // TIOCGSERIAL: the driver's setup of the port
    set_serial,   // TIOCSSERIAL
    nonblocking,  // FIONBIO: a descriptor's O_NONBLOCK set or cleared, on any file
};

struct tty_request {
    unsigned number;
    tty_op op;
    bool drain_first; // a settings request that waits for the output to leave
};

extern const std::span<const tty_request> TTY_REQUESTS;

[[nodiscard]] const tty_request *find_request(unsigned number);

// The size of the record a settings request points to; 0 for the others.
[[nodiscard]] std::size_t record_size(tty_op op);

// Whether a request asks for the settings.
[[nodiscard]] constexpr bool is_get(tty_op op)
{
    return op == tty_op::get_termios || op == tty_op::get_termios2 || op == tty_op::get_termio;
}

// The settings that the record (record_size(op) bytes) of a settings request
// asks for; current is what the line is set to now.
[[nodiscard]] line_settings settings_from(tty_op op, const void *record,
                                          const line_settings &current);

// The settings the terminal on fd reports. A pseudo-terminal reports 8 data
// bits and no parity, whatever was asked for.
[[nodiscard]] line_settings read_settings(int fd);

// The record that the request number (a request for the settings) gets from
// the terminal on fd, with the bits a pseudo-terminal forces taken from
// asked. The record goes to `record` (room for 128 bytes); returns its size,
// or 0 when the terminal cannot be read.
[[nodiscard]] std::size_t report_settings(int fd, unsigned number, const line_settings &asked,
                                          unsigned char *record);

// Room for the largest record a settings request carries, in every layout.
inline constexpr std::size_t LARGEST_RECORD = 128;

// A terminal's settings as the kernel keeps them, byte for byte: any change
// by anyone, even one that sets what the panel cannot read, changes it.
struct tty_record {
    std::array<unsigned char, LARGEST_RECORD> bytes{};
    bool operator==(const tty_record &) const = default;
};
[[nodiscard]] tty_record read_record(int fd);

// The argument values of TCFLSH and TCXONC, as the kernel numbers them.
inline constexpr long TTY_OUTPUT_QUEUE = 1; // TCOFLUSH
inline constexpr long TTY_BOTH_QUEUES = 2;  // TCIOFLUSH
enum : long { TTY_OOFF = 0, TTY_OON = 1, TTY_IOFF = 2, TTY_ION = 3 };

// TIOCSERGETLSR's word: the transmitter is empty.
inline constexpr unsigned TTY_TRANSMITTER_EMPTY = 1; // TIOCSER_TEMT

#endif
