// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "wire.h"

#include <algorithm>

wire::wire(const line_settings &initial, const wire_options &options, line_listener &to)
    : settings_(initial), options_(options), to_(to),
      ring_(options.at_arrival ? 0 : std::max<std::size_t>(options.buffer, 2) - 1)
{
}

std::size_t wire::room() const
{
    return options_.at_arrival ? SIZE_MAX : ring_.size() - count_;
}

nanos wire::next_start() const
{
    if (x_char_)
        return std::max(free_at_, x_char_->arrived_ns);
    if (count_ == 0 || suspended_)
        return NEVER;
    return std::max(free_at_, ring_[head_].arrived_ns);
}

void wire::send(std::uint8_t value, unsigned oflag, nanos start)
{
    line_settings s = settings_;
    s.oflag = oflag;
    free_at_ = start + s.char_ns();
    const sent_byte b{value, start, free_at_, s};
    if (breaking() && start >= break_since_) {
        // Shifted out into the break; the one before it ended there.
        if (shifting_)
            lost_++;
        shifting_ = b;
        return;
    }
    to_.sent(b);
}

void wire::tell_low(nanos now_ns)
{
    if (low_told_ || break_since_ > now_ns)
        return;
    low_told_ = true;
    to_.went_low(break_since_, settings_);
}

// The character still shifting out shows the rest of itself from the
// break's end; one that ended in the break is lost.
void wire::end_break(nanos at)
{
    tell_low(at);
    std::optional<sent_byte> rest;
    if (shifting_ && shifting_->end_ns > at)
        rest = shifting_;
    else if (shifting_)
        lost_++;
    to_.broke({break_since_, at, lost_, settings_, rest});
    break_since_ = NEVER;
    break_until_ = NEVER;
    lost_ = 0;
    shifting_.reset();
}

void wire::advance(nanos now_ns)
{
    for (;;) {
        tell_low(now_ns);
        const nanos start = next_start();
        if (breaking() && break_until_ <= now_ns && break_until_ <= start) {
            end_break(break_until_);
            continue;
        }
        if (start > now_ns)
            return;
        if (x_char_) {
            const waiting x = *x_char_;
            x_char_.reset();
            send(x.value, x.oflag, start);
            continue;
        }
        const waiting w = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        count_--;
        send(w.value, w.oflag, start);
    }
}

std::size_t wire::take(std::span<const std::uint8_t> bytes, nanos now_ns)
{
    advance(now_ns);
    if (options_.at_arrival) {
        for (const std::uint8_t b : bytes)
            send(b, settings_.oflag, std::max(free_at_, now_ns));
        return bytes.size();
    }
    std::size_t taken = 0;
    // An idle line starts the first byte at once, which makes room for one more.
    while (taken < bytes.size() && room() > 0) {
        const std::size_t n = std::min(bytes.size() - taken, room());
        for (std::size_t i = 0; i < n; i++)
            ring_[(head_ + count_ + i) % ring_.size()] = {now_ns, settings_.oflag,
                                                          bytes[taken + i]};
        count_ += n;
        taken += n;
        advance(now_ns);
    }
    return taken;
}

void wire::change(const line_settings &s, nanos now_ns)
{
    advance(now_ns);
    settings_ = s;
}

std::size_t wire::discard(nanos now_ns)
{
    advance(now_ns);
    const std::size_t dropped = count_;
    head_ = 0;
    count_ = 0;
    return dropped;
}

void wire::suspend(nanos now_ns)
{
    advance(now_ns);
    suspended_ = true;
}

void wire::resume(nanos now_ns)
{
    advance(now_ns);
    if (!suspended_)
        return;
    suspended_ = false;
    free_at_ = std::max(free_at_, now_ns);
    advance(now_ns);
}

void wire::send_flow_char(std::uint8_t c, nanos now_ns)
{
    advance(now_ns);
    x_char_ = waiting{now_ns, settings_.oflag, c};
    advance(now_ns);
}

void wire::break_on(nanos now_ns, nanos length_ns)
{
    advance(now_ns);
    if (!breaking()) {
        // The character on the wire ends first; behind an emulated UART,
        // so does everything laid out before.
        break_since_ = std::max(now_ns, free_at_);
        lost_ = 0;
        low_told_ = false;
        tell_low(now_ns);
    }
    // A break of a given length lasts that long from when it is asked for
    // or the line goes low, even while the line is low already; behind an
    // emulated UART, after everything laid out before it.
    const nanos from =
        std::max(now_ns, options_.at_arrival ? std::max(break_since_, free_at_) : break_since_);
    break_until_ = length_ns == NEVER ? NEVER : from + length_ns;
    if (options_.at_arrival && break_until_ != NEVER) {
        // What follows is laid out after a character time of idle line, so
        // that a receiver sees the break end.
        free_at_ = std::max(free_at_, break_until_ + settings_.char_ns());
        end_break(break_until_);
        return;
    }
    advance(now_ns);
}

void wire::break_off(nanos now_ns)
{
    advance(now_ns);
    if (!breaking())
        return;
    nanos end = now_ns;
    if (shifting_ && shifting_->start_ns > now_ns) {
        // Laid out into the break ahead of time, behind an emulated UART:
        // the break ends after it, and what follows is laid out after a
        // character time of idle line, as after a break of a given length.
        end = shifting_->end_ns;
        free_at_ = end + settings_.char_ns();
    }
    if (end < break_since_) {
        // Ended before the character on the wire did: the line never went
        // low, and a receiver saw no break.
        break_since_ = NEVER;
        break_until_ = NEVER;
        low_told_ = true;
        return;
    }
    end_break(end);
}

nanos wire::idle_at() const
{
    const nanos char_ns = settings_.char_ns();
    nanos t = free_at_;
    if (x_char_)
        t = std::max(t, x_char_->arrived_ns) + char_ns;
    if (count_ > 0) {
        if (suspended_)
            return NEVER;
        t = std::max(t, ring_[head_].arrived_ns) + static_cast<nanos>(count_) * char_ns;
    }
    return t;
}

nanos wire::low_at() const
{
    if (count_ < WAKEUP_CHARS)
        return 0;
    if (suspended_)
        return NEVER;
    const nanos char_ns = settings_.char_ns();
    nanos first = free_at_;
    if (x_char_)
        first = std::max(first, x_char_->arrived_ns) + char_ns;
    first = std::max(first, ring_[head_].arrived_ns);
    return first + static_cast<nanos>(count_ - WAKEUP_CHARS) * char_ns;
}

nanos wire::writable_at() const
{
    if (writable())
        return 0;
    // A buffer smaller than WAKEUP_CHARS has room once its front byte leaves.
    return std::max(low_at(), room() > 0 ? 0 : next_start());
}
