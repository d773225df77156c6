// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// receiver: the display controller's UART, a 16550 at 19200 8N1, on the
// line that the wire drives.
//
// The wire tells the line as it changes: each character from its start bit
// on, the line held low for a break, and the break's end with the rest of
// the character that was shifting out into it, if any. The receiver samples
// that line as a 16550 does: it hunts for the line to go low, then samples
// each bit at its middle (bit b = 1/19200 s: the start bit at 0.5 b, the
// data bits at 1.5 b to 8.5 b, the stop bit at 9.5 b).
//
// Principles:
//  - In step, nothing changes. A character whose start bit begins while the
//    receiver hunts, with the whole character on the line, is passed on as
//    it was sent, with the settings it left under (a frame at 9600 is still
//    its bytes, flagged by its speed), and the receiver is busy until that
//    character's end.
//  - Any other low is sampled. A start sample that is high is nothing (a
//    low under half a bit). A low stop sample is a framing error: the 16550
//    takes that low for the next start bit and samples the next byte from
//    there. Every sample low is the break: the 00 with a framing error and
//    the break indication, after which the receiver waits for the line to
//    go high before it hunts again. After a good byte it hunts from the
//    stop sample on. What it takes out of step is garbage, as on the
//    device, until it meets a character's start in step.
//  - A byte sampled is given out once the line is known up to its stop
//    sample, so that bytes leave the receiver in the order of their start
//    and none ahead of its time. The line is known up to the last time
//    given to advance, and at the first moment of each character or low
//    told; what the wire has told of later moments waits for the time.
//  - Each step costs O(1) for each character and edge on the line.
//
// receiver::character        a character leaves the wire whole, from its start bit
// receiver::passes           a character in step with nothing else on the line: taken at once
// receiver::low              the line is held low from a time on (a break)
// receiver::high             the low ends; the rest of a character shifted into it follows
// receiver::advance          the bytes received by a time, in order
// receiver::receiving_since  where the byte being sampled starts; NEVER when none is
// receiver::next_due         when that byte is complete; NEVER when none is
#ifndef RECEIVER_H
#define RECEIVER_H

#include "clock.h"
#include "frames.h"
#include "settings.h"

#include <deque>
#include <optional>
#include <vector>

// The receiver's speed and framing: the controller's.
inline constexpr long RECEIVER_BAUD = 19200;

class receiver
{
  public:
    void character(const sent_byte &b);
    // Where the receiver hunts with nothing told ahead of b, and b starts
    // from where it hunts, b is received whole at its start, as advance
    // would give it: true, and the receiver is busy until b's end. False
    // (and nothing changed) otherwise: tell it by character.
    [[nodiscard]] bool passes(const sent_byte &b);
    void low(nanos start_ns, const line_settings &s);
    void high(nanos end_ns, const std::optional<sent_byte> &rest);

    // Everything received once the line is known up to now_ns (NEVER: the
    // line is left as it is for good), in the order of start.
    [[nodiscard]] std::vector<sent_byte> advance(nanos now_ns);

    [[nodiscard]] nanos receiving_since() const;
    [[nodiscard]] nanos next_due() const;

  private:
    // What the line does from `from` to `to`: low (a break), or a character
    // whose bits count from c.start_ns. Between spans the line is high.
    struct span {
        nanos from;
        nanos to; // NEVER: a low not yet ended
        bool low;
        sent_byte c; // a low: the settings it began under
    };
    enum class phase { hunting, sampling, waiting_high };

    // The level at t: 0, 1, or -1 while it is not known yet.
    [[nodiscard]] int level(nanos t) const;
    // The first time from `from` on at which the line is at `want`; NEVER
    // while it is not known yet.
    [[nodiscard]] nanos first(int want, nanos from) const;
    [[nodiscard]] const span *span_at(nanos t) const;
    // When sample k (0: the start bit) of the byte being sampled is taken.
    [[nodiscard]] nanos sample_time(int k) const;
    // One step of the 16550; false when it must wait for the line.
    bool step(std::vector<sent_byte> &out);
    bool hunt(std::vector<sent_byte> &out);
    bool sample(std::vector<sent_byte> &out);
    void take_byte(const int (&samples)[10], std::vector<sent_byte> &out);

    std::deque<span> line_;
    nanos known_ = 0; // the line is known before this time
    phase phase_ = phase::hunting;
    nanos at_ = 0;       // hunting or waiting for the line to go high from here
    nanos origin_ = 0;   // sampling: the start of the chain of bytes taken one after another
    long long bits_ = 0; // sampling: where the byte starts, in bits from origin_
    line_settings last_settings_;
};

#endif
