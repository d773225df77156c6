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
// TTY_REQUESTS    every request the panel watches, and what it does to the line
// find_request    the entry for a request number, or null
// record_size     how many bytes of the program's memory a request carries
// settings_from   the settings a request's record asks for
// read_settings   the settings a terminal reports, as line_settings
#ifndef TTY_ABI_H
#define TTY_ABI_H

#include "frames.h"

#include <cstddef>
#include <span>

enum class tty_op {
    set_termios,  // TCSETS*
    set_termios2, // TCSETS*2
    set_termio,   // TCSETA*
    drain,        // TCSBRK with a non-zero argument: tcdrain
    brk,          // TCSBRK 0 or TCSBRKP: drain, then a break of a given length
    break_on,     // TIOCSBRK: drain, then the line low until TIOCCBRK
    break_off,    // TIOCCBRK
    flush,        // TCFLSH
    flow,         // TCXONC: tcflow
    outq,         // TIOCOUTQ: how many bytes wait to be sent
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

// The settings that the record (record_size(op) bytes) of a settings request
// asks for; current is what the line is set to now.
[[nodiscard]] line_settings settings_from(tty_op op, const void *record,
                                          const line_settings &current);

// The settings the terminal on fd reports. A pseudo-terminal reports 8 data
// bits and no parity, whatever was asked for.
[[nodiscard]] line_settings read_settings(int fd);

// The argument values of TCFLSH and TCXONC, as the kernel numbers them.
inline constexpr long TTY_OUTPUT_QUEUE = 1; // TCOFLUSH
inline constexpr long TTY_BOTH_QUEUES = 2;  // TCIOFLUSH
enum : long { TTY_OOFF = 0, TTY_OON = 1, TTY_IOFF = 2, TTY_ION = 3 };

#endif
