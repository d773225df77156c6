// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// frames: what a display controller at 19200 8N1 makes of what leaves its
// line.
//
// Bytes are taken one at a time, as they leave the wire: each with the time
// its start bit began, the time its last stop bit ended, and the settings it
// left under. They come in bursts; a burst ends when the line has been quiet
// for FRAME_GAP_MS, far longer than the 4.17 ms an 8-byte frame takes on the
// wire. Every 8 bytes of a burst are a frame, judged byte by byte by all that
// a controller would notice. What remains when a burst ends is a frame cut
// short (when the burst held no whole frame) or bytes left over (after one).
//
// The bytes come from the controller's receiver (receiver.h), as a 16550 at
// 19200 8N1 receives the line. A break (the line held low for a whole
// character or longer) reaches the monitor as the 16550 delivers it: one 00,
// with a framing error and the break indication, received at the break's
// start; then nothing while the line stays low. That 00 is a byte like any
// other: it joins the frame under way, or begins a new one, and the burst
// ends FRAME_GAP_MS after it unless another byte comes first. A long break
// therefore ends the frame it cut, and what follows is in step; after a
// short one, the frames of the same burst are out of step by the 00, unless
// the 00 was the last byte of its frame. The frame that holds a break's 00,
// and each one out of step by it, carries the code `break`; a frame that
// holds another byte received with a framing error (its stop bit low)
// carries `framing`. A break the receiver took as one is reported on a line
// of its own when it ends, with its length and the bytes lost in it.
//
// Every fault has a stable code (speed, parity, cut_short, ...) beside the
// words people read.
//
// break_report    a break that has ended, as a report of its own
// frame_monitor   cuts what leaves the line into frame reports: frames, remnants
#ifndef FRAMES_H
#define FRAMES_H

#include "clock.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::size_t FRAME_LEN = 8;
inline constexpr nanos FRAME_GAP_MS = 100;

// One byte as it left the line, or as the controller's receiver took it.
struct sent_byte {
    std::uint8_t value = 0;
    nanos start_ns = 0;         // its start bit began
    nanos end_ns = 0;           // its last stop bit ended
    line_settings settings;     // what it left under
    bool is_break = false;      // a break's 00, as the controller receives it
    bool framing_error = false; // received with its stop bit low (a break's 00 too)
};

// The line held low: a break, and the bytes the UART shifted out into it.
struct line_break {
    nanos start_ns = 0;
    nanos end_ns = 0;
    std::size_t lost = 0; // the bytes shifted out wholly into it
    line_settings settings;
    // The character that was shifting out when the break ended: the rest
    // of it, from end_ns on, is on the line.
    std::optional<sent_byte> rest;
};

struct line_report {
    enum kind_t { frame, brk };
    kind_t kind = frame;
    nanos time_ns = 0;     // when the first byte started to leave, or the break began
    nanos duration_ns = 0; // a break: how long the line was low
    std::vector<std::uint8_t> bytes;
    line_settings settings;      // those of the first byte
    std::vector<fault> problems; // empty: a clean frame
};

// A break that has ended, as a report of its own: its length, and the bytes
// shifted out into it.
[[nodiscard]] line_report break_report(const line_break &b);

class frame_monitor
{
  public:
    // Takes one byte the receiver took, a break's 00 too; returns the
    // reports it completes (the burst before it, when the line was quiet
    // long enough in between).
    [[nodiscard]] std::vector<line_report> take(const sent_byte &b);

    // Ends the burst if the line has been quiet for FRAME_GAP_MS by now_ns;
    // returns the short frame or the left-over bytes it held, if any.
    [[nodiscard]] std::vector<line_report> idle(nanos now_ns);

    // Why bytes not yet sent were dropped: a flush of output, or a run
    // ended by force while they still waited.
    // or a receiver that lost them to an overrun (listening on a real port).
    enum cause { flushed, run_ended, overrun };

    // The bytes not yet sent were dropped: the frame under way is cut short
    // there, and says how many never left.
    [[nodiscard]] std::vector<line_report> cut(std::size_t discarded, nanos now_ns,
                                               const line_settings &settings, cause c = flushed);

    // Ends the burst whatever the time (the line is going away).
    [[nodiscard]] std::vector<line_report> flush();

    // When the current burst ends, or NEVER when there is none.
    [[nodiscard]] nanos deadline_ns() const;

  private:
    [[nodiscard]] line_report report() const;
    void judge_breaks(line_report &r) const;
    [[nodiscard]] std::vector<line_report> end_burst(fault why);

    std::vector<sent_byte> pending_;
    nanos last_end_ = NEVER; // NEVER: no burst under way
    std::size_t frames_in_burst_ = 0;
    bool out_of_step_ = false; // a break's 00 in the burst shifted the frames after it
};

#endif
