// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// serial_line: a real serial port the panel listens on as the controller's
// UART would: at 19200 8N1 raw, its receiver marking every byte with an
// error and every break (marks.h), its driver asked for low latency; put
// back as it was found when the panel is done with it.
//
// Principles:
//  - The port is only read. What the panel set, it puts back: the terminal's
//    settings and the driver's low-latency flag.
//  - Each character read is placed back on the line at the line's speed:
//    the last one of a read ended when it was read, each before it one
//    character time earlier, none before the one before it. A port delivers
//    what it received some time later (a 16550 when its FIFO fills or the
//    line has been idle four characters, a USB adapter in bursts): the
//    times are that late, and that close together.
//  - What the driver only counts, overruns of the UART's FIFO and of the
//    driver's buffer, is told as it grows.
//
// serial_line::open        opens and sets up the port; false with why set
// serial_line::fd          what to poll
// serial_line::low_latency whether the driver took low latency
// serial_line::read        what arrived, at its times; false once the port went away
// serial_line::lost        characters the driver counted lost since last asked
// serial_line::restore     the port as it was found
#ifndef SERIAL_LINE_H
#define SERIAL_LINE_H

#include "clock.h"
#include "frames.h"
#include "marks.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

class serial_line
{
  public:
    serial_line() = default;
    ~serial_line();
    serial_line(const serial_line &) = delete;
    serial_line &operator=(const serial_line &) = delete;

    [[nodiscard]] bool open(const std::string &path, std::string &why);
    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] bool low_latency() const { return low_latency_; }
    [[nodiscard]] bool read(nanos now, std::vector<sent_byte> &out);
    [[nodiscard]] std::size_t lost();
    void restore();

  private:
    void place(const std::vector<received_char> &chars, nanos now, std::vector<sent_byte> &out);

    int fd_ = -1;
    std::array<unsigned char, 128> settings_{}; // the terminal's record as found
    std::array<unsigned char, 128> serial_{};   // the driver's setup as found
    bool set_ = false;                          // settings_ is to be put back
    bool low_latency_ = false;                  // serial_ is to be put back
    mark_decoder marks_;
    nanos last_end_ = 0;
    long counted_lost_ = -1; // overruns the driver had counted; -1: it counts none
};

#endif
