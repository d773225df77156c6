// SPDX-License-Identifier: MIT
// wire: the panel's side of the line as a UART sends it, in time.
//
// Bytes written to the line queue behind each other; each leaves over its
// own wire time (start bit, data bits, parity bit, stop bits) at the speed in
// force when its start bit begins. A change of settings applied at once acts
// on every byte that has not started yet, but for output processing, which
// the line discipline did when the byte was written; a flush of output
// discards them. A
// drain is over once the queue is empty and the last stop bit has ended.
//
// Behind an emulated UART that passes each byte on the moment it is written,
// the bytes are judged by the settings in force when they arrived instead
// (at_arrival); they are still laid out on the wire one after the other.
//
// arrive   bytes written to the line at a time
// change   the settings, from a time on
// discard  a flush of output: the bytes not yet started are dropped
// advance  the bytes that have started to leave by a time, in order
// idle_at  when the line falls quiet, if nothing more arrives
#ifndef WIRE_H
#define WIRE_H

#include "frames.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

class wire
{
  public:
    wire(const line_settings &initial, bool at_arrival)
        : settings_(initial), at_arrival_(at_arrival)
    {
    }

    // Each of these first lets go what has started by now_ns (see advance),
    // and returns it; discard also says how many bytes it dropped.
    [[nodiscard]] std::vector<sent_byte> arrive(std::span<const std::uint8_t> bytes,
                                                long long now_ns);
    [[nodiscard]] std::vector<sent_byte> change(const line_settings &s, long long now_ns);
    [[nodiscard]] std::vector<sent_byte> discard(long long now_ns, std::size_t &dropped);

    // The bytes whose start bit has begun by now_ns, in order, each with the
    // settings it leaves under and its times on the wire.
    [[nodiscard]] std::vector<sent_byte> advance(long long now_ns);
    [[nodiscard]] long long idle_at() const;
    [[nodiscard]] bool queued() const { return !queue_.empty(); }
    [[nodiscard]] const line_settings &settings() const { return settings_; }

  private:
    struct waiting {
        std::uint8_t value;
        long long arrived_ns;
        line_settings settings; // at arrival
    };

    line_settings settings_;
    bool at_arrival_;
    std::deque<waiting> queue_;
    long long free_at_ = 0; // when the last byte's stop bit ends
};

#endif
