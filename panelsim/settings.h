// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// settings: the line's settings, as the panel knows them, and what in them
// a controller on the device's line (19200 8N1 raw) would notice.
//
// A program asks for settings in one of the kernel's records (tty_abi reads
// them); whatever the record, they become one line_settings. People read
// them as stty says them ("19200 8N1 raw", "9600 7E1 opost"), and every way
// they differ from the device's has a stable code beside its words.
//
// line_settings    the settings, and what one character takes on the wire
// describe         settings as people say them
// fault            one difference a controller would notice, with its code
// settings_faults  every way the settings differ from the device's
// bit_level        the line's level during one bit of a character
#ifndef SETTINGS_H
#define SETTINGS_H

#include "clock.h"

#include <cstdint>
#include <string>
#include <vector>

// The line's settings. The flag words hold the terminal flags (the values of
// <termios.h>); the speeds are in bits per second, whatever way they were
// asked for. Where the panel cannot see what was asked (known false), the
// speed, stop bits and flags are those the line reports, and data bits and
// parity are not known at all.
struct line_settings {
    bool known = true;
    long baud = 19200; // 0: B0, hung up; -1: a speed code not known
    long in_baud = 0;  // 0: the same as baud
    int data_bits = 8;
    char parity = 'N'; // N, E, O, M (mark), S (space)
    int stop_bits = 1;
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;
    std::uint8_t stop_char = 023;  // what tcflow(TCIOFF) sends; 0: none
    std::uint8_t start_char = 021; // what tcflow(TCION) sends; 0: none

    // Everything about the line that a controller on it would notice:
    // speed, size, parity, stop bits, output processing and flow control.
    [[nodiscard]] bool same_to_controller(const line_settings &o) const;
    // The speed the UART sends at: at B0 the serial core sends at 9600.
    [[nodiscard]] long wire_baud() const { return baud == 0 ? 9600 : baud > 0 ? baud : 19200; }
    // Nanoseconds one character takes: start bit, data, parity, stop bits.
    [[nodiscard]] nanos char_ns() const;
};

[[nodiscard]] std::string describe(const line_settings &s);

// One thing the device's setting (19200 8N1 raw) does not allow, or a
// controller would not take, with its stable code.
struct fault {
    const char *code;
    std::string text;
    bool operator==(const fault &o) const;
};

[[nodiscard]] std::vector<fault> settings_faults(const line_settings &s);

// The line's level during bit `bit` of a character that carries value: the
// start bit (0) is low, then come the low data_bits bits of value least
// significant first, the parity bit if any (N, E, O, M mark, S space), and
// the stop bits, high.
[[nodiscard]] int bit_level(std::uint8_t value, int data_bits, char parity, int bit);

#endif
