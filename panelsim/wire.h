// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// wire: the panel's side of the line as a UART sends it, in time.
//
// Written bytes wait in a transmit buffer of a bounded size, as in the
// serial core: a circular buffer of `buffer` bytes that holds at most
// buffer - 1. One at a time they leave over their own wire time (start bit,
// data bits, parity bit, stop bits) at the speed in force when the start bit
// begins; at B0 the UART sends at 9600. A change of settings applied at once
// acts on every byte that has not started yet, but for output processing,
// which the line discipline did when the byte was written; a flush of output
// discards them. The wire's states are the UART's:
//  - suspended (tcflow TCOOFF): no byte starts until output is resumed; the
//    byte on the wire finishes;
//  - a flow-control character (tcflow TCIOFF, TCION) goes ahead of the
//    queue, as soon as the line is free, even while output is suspended;
//  - a break holds the line low from the moment it is asked for, or from
//    the end of the character on the wire (which is not cut in two); it
//    does not wait for the queue: the bytes that start during it are
//    shifted out into the break, and those that end in it are lost. The
//    character still shifting out when the break ends shows the rest of
//    itself on the line from then on. (tcsendbreak's waiting for the output
//    first is the driver's, not the UART's: the panel does it.) The line
//    going low is told when it does, as a byte is told when it starts,
//    never ahead; its end is told with that rest, if any;
//  - full: the buffer takes no more.
// Time only moves on: every call first lets go what has started by its time.
// What leaves goes to a line_listener, in time order.
//
// Behind an emulated UART that passes each byte on the moment it is written,
// the bytes are judged by the settings in force when they arrived instead
// (at_arrival), nothing waits and nothing is bounded; they are still laid
// out on the wire one after the other, and so is a break of a given length,
// after the bytes before it and before the bytes after it; a TIOCCBRK ends a
// break no sooner than the bytes laid out into it.
//
// advance     everything that has started by a time leaves
// take        written bytes, as many as the buffer has room for
// change      the settings, from a time on
// discard     a flush of output: the bytes not yet started are dropped
// suspend     tcflow's TCOOFF; resume: TCOON
// send_flow_char  a flow-control character ahead of the queue
// break_on    the line low from a time, for a given length or until break_off
// break_starts_at  when a break asked for goes low, while it has not yet
// idle_at     when the line falls quiet with everything sent
// writable_at when a waiting writer wakes, and poll says the line takes output
// line_free_at  when the character that started last has left
// flow_char_pending  whether a flow-control character waits
#ifndef WIRE_H
#define WIRE_H

#include "frames.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The line discipline wakes a waiting writer, and poll reports the line
// writable, only while fewer bytes than this wait to be sent.
inline constexpr std::size_t WAKEUP_CHARS = 256;

// The serial core's transmit buffer: one page.
inline constexpr std::size_t DEFAULT_BUFFER = 4096;

class line_listener
{
  public:
    // A character leaves the line whole, from its start bit on.
    virtual void sent(const sent_byte &b) = 0;
    // The line went low for a break, under settings s.
    virtual void went_low(nanos start_ns, const line_settings &s) = 0;
    // The break has ended, with what is left of a character shifted into it.
    virtual void broke(const line_break &b) = 0;

  protected:
    ~line_listener() = default;
};

struct wire_options {
    std::size_t buffer = DEFAULT_BUFFER;
    bool at_arrival = false;
};

class wire
{
  public:
    wire(const line_settings &initial, const wire_options &options, line_listener &to);

    void advance(nanos now_ns);
    // Takes as many of bytes (already through output processing) as there
    // is room for; returns how many.
    std::size_t take(std::span<const std::uint8_t> bytes, nanos now_ns);
    void change(const line_settings &s, nanos now_ns);
    // Returns how many bytes were dropped.
    std::size_t discard(nanos now_ns);
    void suspend(nanos now_ns);
    void resume(nanos now_ns);
    void send_flow_char(std::uint8_t c, nanos now_ns);
    // A break asked for at now_ns, for length_ns or until break_off.
    void break_on(nanos now_ns, nanos length_ns = NEVER);
    void break_off(nanos now_ns);

    [[nodiscard]] std::size_t room() const;
    // Bytes waiting to be sent, not counting the one on the wire (TIOCOUTQ).
    [[nodiscard]] std::size_t queued() const { return count_; }
    // Whether poll would report the line writable (the write lock aside).
    [[nodiscard]] bool writable() const { return count_ < WAKEUP_CHARS && room() > 0; }
    [[nodiscard]] bool suspended() const { return suspended_; }
    [[nodiscard]] bool breaking() const { return break_since_ != NEVER; }
    [[nodiscard]] nanos break_until() const { return breaking() ? break_until_ : NEVER; }
    [[nodiscard]] nanos break_starts_at() const { return low_told_ ? NEVER : break_since_; }
    [[nodiscard]] nanos idle_at() const;
    // When writable() will hold, if nothing else happens; 0 when it does now.
    [[nodiscard]] nanos writable_at() const;
    [[nodiscard]] const line_settings &settings() const { return settings_; }
    // When the character that started last ends its last stop bit.
    [[nodiscard]] nanos line_free_at() const { return free_at_; }
    // Whether a flow-control character waits to go ahead of the queue.
    [[nodiscard]] bool flow_char_pending() const { return x_char_.has_value(); }

  private:
    struct waiting {
        nanos arrived_ns;
        unsigned oflag; // output processing as it was when written
        std::uint8_t value;
    };

    // When the next character may start, if one is ready: the
    // flow-control character, else the front of the queue.
    [[nodiscard]] nanos next_start() const;
    // When fewer than WAKEUP_CHARS bytes will be waiting.
    [[nodiscard]] nanos low_at() const;
    void send(std::uint8_t value, unsigned oflag, nanos start);
    void end_break(nanos at);
    // Tells the listener the line went low, once its time has come.
    void tell_low(nanos now_ns);

    line_settings settings_;
    wire_options options_;
    line_listener &to_;
    std::vector<waiting> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    nanos free_at_ = 0; // when the last character's stop bit ends
    bool suspended_ = false;
    std::optional<waiting> x_char_;
    nanos break_since_ = NEVER;
    nanos break_until_ = NEVER;
    std::size_t lost_ = 0;
    bool low_told_ = true;              // the listener knows the break under way began
    std::optional<sent_byte> shifting_; // the last character shifted out into the break
};

#endif
