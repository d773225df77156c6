// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// controller: what the display controller makes of the line. Its UART
// (receiver) takes the line as the wire drives it; its frame rule
// (frame_monitor) cuts what the UART took into frames.
//
// Principles:
//  - Time order. The receiver gives a byte once it has sampled it, up to
//    half a millisecond after its start. What the panel learns meanwhile
//    waits for it: a flush of output at a time is judged after every byte
//    that started before that time, and a burst is not judged over while a
//    byte that started before its end is still being sampled.
//  - Only a break the receiver took (the 00 with the break indication,
//    whose start sample fell in the break) is reported on a line of its
//    own; a low shorter than a character is only what the UART sampled.
//  - The time of the last verdict is kept, the later of FRAME_GAP_MS after
//    the last byte received (when its burst is over, however the panel
//    ended it) and the end of the last break: a dump of the line runs on
//    past it, so that whoever reads the dump sees the idle line that led
//    to each verdict.
//
// controller::sent        a character leaves the wire whole (line_listener's)
// controller::received    a character a real UART received (listening on a real port)
// controller::went_low    the line is held low for a break (line_listener's)
// controller::broke       the break has ended (line_listener's)
// controller::quiet       the line is known up to a time: bytes sampled, bursts ended
// controller::dropped     bytes not yet sent were dropped: the frame under way is cut short
// controller::close       the line is left as it is: the last bytes, the last burst
// controller::next_due    when something is due by itself; NEVER when nothing is
// controller::verdict_ns  when the last verdict is due
#ifndef CONTROLLER_H
#define CONTROLLER_H

#include "clock.h"
#include "frames.h"
#include "receiver.h"

#include <cstddef>
#include <deque>
#include <vector>

class controller
{
  public:
    using reports = std::vector<line_report>;

    [[nodiscard]] reports sent(const sent_byte &b);
    [[nodiscard]] reports received(const sent_byte &b);
    [[nodiscard]] reports went_low(nanos start_ns, const line_settings &s);
    [[nodiscard]] reports broke(const line_break &b);
    [[nodiscard]] reports quiet(nanos t);
    [[nodiscard]] reports dropped(std::size_t count, nanos t, const line_settings &s,
                                  frame_monitor::cause why = frame_monitor::flushed);
    [[nodiscard]] reports close();
    [[nodiscard]] nanos next_due() const;
    [[nodiscard]] nanos verdict_ns() const { return verdict_ns_; }

  private:
    struct drop {
        std::size_t count;
        nanos at;
        line_settings settings;
        frame_monitor::cause why;
    };
    // A break on the line, and whether the receiver took one in it.
    struct held_low {
        line_break line;
        bool ended = false;
        bool received = false;
    };

    // The receiver's bytes once the line is known up to `known`, through the
    // frame rule, in time order with the drops and the breaks that ended.
    [[nodiscard]] reports take(nanos known);
    // What happened before `until`: drops, and the breaks that ended.
    void settle(nanos until, reports &out);
    void keep(reports &out, reports more) const;

    receiver rx_;
    frame_monitor monitor_;
    std::deque<drop> drops_;
    std::deque<held_low> lows_;
    nanos verdict_ns_ = 0;
};

#endif
