// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// line_ops: a wire and the controller behind it (receiver and frame
// monitor) driven by a fuzzer's bytes, as the panel's loop drives them.
//
// Byte 0 sizes the transmit buffer, byte 1 picks at-arrival; then each
// operation is two bytes: what (written bytes, a change of settings, a flush,
// tcflow, a break, the monitor's idle check) and how far time moves on
// first. Time never goes back. A write takes its bytes from the input.
//
// line_run       the listener: every byte sent and break, every byte received, every report, in
// order run_line_ops   plays the operations, then lets the line fall quiet
#ifndef FUZZ_LINE_OPS_H
#define FUZZ_LINE_OPS_H

#include "controller.h"
#include "frames.h"
#include "receiver.h"
#include "wire.h"

#include <cstdint>
#include <span>
#include <vector>

struct line_event {
    bool is_byte; // else a break that has ended
    sent_byte byte;
    line_break brk;
};

class line_run : public line_listener
{
  public:
    void sent(const sent_byte &b) override;
    void went_low(nanos start_ns, const line_settings &s) override;
    void broke(const line_break &b) override;
    void keep(std::vector<line_report> more);
    // What rx takes once the line is known up to t.
    void receive(nanos t);

    controller judge;
    std::vector<line_report> reports; // in the order they were completed
    std::vector<line_event> events;   // what a dump of the line records
    bool went_low_once = false;       // a break took the line low
    receiver rx;                      // a receiver of its own on the same line
    std::vector<sent_byte> received;  // what it took
};

void run_line_ops(std::span<const std::uint8_t> data, line_run &run);

#endif
