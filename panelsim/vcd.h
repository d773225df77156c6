// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// vcd: the serial line as a logic analyser records it, a Value Change Dump
// of one wire, `line`, idle high.
//
// Each character is written as the UART puts it on the wire: a start bit
// (0), the data bits least significant first, the parity bit if any, the
// stop bits (1). Edge times are exact bit times (1e9 / baud ns apart) from
// the character's start, each rounded on its own to the dump's time unit,
// VCD_UNIT_NS. A character that was shifting out while a break held the
// line low shows from the break's end on: its level then, and its later
// edges. Changes that fall on one unit become one: where a break's end meets
// a low bit, the line stays low, with no glitch of no width between.
//
// The unit is 100 ns. sigrok's VCD input makes a sample of every unit, so
// the unit sets how fast sigrok-cli and PulseView read a dump and how much
// memory PulseView takes: at 100 ns a second of line is 10 million samples,
// read back in about 0.15 s; at 1 ns it would take over 10 s. 100 ns is
// under 1/20 of a bit up to 460800 baud, so the UART decoder still samples
// every bit near its middle. The decoder finds a start bit by its falling
// edge: a character that starts at time 0 is not read.
#ifndef VCD_H
#define VCD_H

#include "clock.h"
#include "settings.h"

#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr nanos VCD_UNIT_NS = 100;

// One character's framing on the wire.
struct wire_format {
    long baud = 19200; // bits per second
    int data_bits = 8; // 5..8
    char parity = 'N'; // 'N', 'E', 'O', 'M' (mark: always 1), 'S' (space: always 0)
    int stop_bits = 1; // 1 or 2
};

// Whether f is a framing a UART can put on the line (baud from 1 to
// 10,000,000 bit/s).
[[nodiscard]] bool valid_format(const wire_format &f);

// Bits one character takes on the wire: start, data, parity, stop.
[[nodiscard]] int char_bits(const wire_format &f);

class vcd_writer
{
  public:
    vcd_writer() = default;
    vcd_writer(const vcd_writer &) = delete;
    vcd_writer &operator=(const vcd_writer &) = delete;
    ~vcd_writer(); // closes if still open

    // Creates path and writes the header; the line is idle (high) at time 0.
    // false with errno set on failure. A dump still open is closed first.
    [[nodiscard]] bool open(const std::string &path);

    // One character leaving the line, starting at start_ns nanoseconds after
    // time 0: start bit (0), the low data_bits bits of value least
    // significant first, parity bit if any, stop bits (1); of a character
    // that was shifted out into a break, only what follows shown_ns, the
    // break's end. Calls come in order of time, and a character never
    // shows before the previous one ended. Nothing is written while no dump
    // is open or when f is not valid_format().
    void byte(std::uint8_t value, nanos start_ns, const wire_format &f, nanos shown_ns = 0);

    // The line held low from start_ns to end_ns: a break. Calls keep the
    // order of time, as for byte().
    void low(nanos start_ns, nanos end_ns);

    // Ends the dump at end_ns, or at the end of the last stop bit if that is
    // later, and closes the file. false with errno set when the dump could
    // not be written whole.
    bool close(nanos end_ns);

    [[nodiscard]] bool is_open() const { return file_ != nullptr; }

  private:
    void change(long long unit, int level);
    void write_held();

    std::FILE *file_ = nullptr;
    int level_ = 1;         // the line's level after the last change
    int written_ = 1;       // the line's level as the file has it
    long long last_ = 0;    // time of the last change, in units
    long long stamped_ = 0; // the last time written in the file, in units
    bool held_ = false;     // the last change is not yet written: one at its time may follow
    nanos end_ = 0;         // end of the last stop bit, in units
    int write_errno_ = 0;   // first error while writing, 0 if none
};

#endif
