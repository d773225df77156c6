// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "receiver.h"

#include <algorithm>

namespace
{

constexpr int SAMPLES = 10; // the start bit, 8 data bits, the stop bit
constexpr int STOP = SAMPLES - 1;
const nanos RECEIVER_CHAR_NS = line_settings{}.char_ns();

// The time half_bits halves of the receiver's bit after origin, rounded to
// the nanosecond: exact whatever the count.
nanos bit_time(nanos origin, long long half_bits)
{
    return origin + (half_bits * NS_PER_S + RECEIVER_BAUD) / (2 * RECEIVER_BAUD);
}

int char_bits(const line_settings &s)
{
    return 1 + s.data_bits + (s.parity != 'N' ? 1 : 0) + s.stop_bits;
}

// The bit of character c under way at t (t not before its start).
long long bit_at(const sent_byte &c, nanos t)
{
    return (t - c.start_ns) * c.settings.wire_baud() / NS_PER_S;
}

int char_level(const sent_byte &c, nanos t)
{
    const long long bit = bit_at(c, t);
    if (bit >= char_bits(c.settings))
        return 1;
    return bit_level(c.value, c.settings.data_bits, c.settings.parity, static_cast<int>(bit));
}

// The first time from t on at which character c is at want; after its last
// bit when it never is.
nanos char_first(const sent_byte &c, int want, nanos t)
{
    const long long baud = c.settings.wire_baud();
    const int bits = char_bits(c.settings);
    for (long long bit = bit_at(c, t); bit < bits; ++bit) {
        if (bit_level(c.value, c.settings.data_bits, c.settings.parity, static_cast<int>(bit)) ==
            want)
            return std::max(t, c.start_ns + (bit * NS_PER_S + baud - 1) / baud);
    }
    return NEVER;
}

} // namespace

// A span told is known at its first moment: the line as it began there is
// final. Where a low ends, what follows is known only once told.
void receiver::character(const sent_byte &b)
{
    line_.push_back({b.start_ns, b.end_ns, false, b});
    known_ = std::max(known_, b.start_ns + 1);
    last_settings_ = b.settings;
}

bool receiver::passes(const sent_byte &b)
{
    if (phase_ != phase::hunting || !line_.empty() || b.start_ns < at_)
        return false;
    known_ = std::max(known_, b.start_ns + 1);
    last_settings_ = b.settings;
    at_ = std::max(b.end_ns, b.start_ns + 1);
    return true;
}

void receiver::low(nanos start_ns, const line_settings &s)
{
    line_.push_back({start_ns, NEVER, true, {0, start_ns, start_ns, s}});
    known_ = std::max(known_, start_ns + 1);
    last_settings_ = s;
}

void receiver::high(nanos end_ns, const std::optional<sent_byte> &rest)
{
    if (!line_.empty() && line_.back().low && line_.back().to == NEVER)
        line_.back().to = end_ns;
    known_ = std::max(known_, end_ns);
    if (rest) {
        line_.push_back({end_ns, rest->end_ns, false, *rest});
        known_ = std::max(known_, end_ns + 1);
    }
}

int receiver::level(nanos t) const
{
    if (t >= known_)
        return -1;
    for (const span &s : line_) {
        if (t < s.from) // between two spans told: high
            return 1;
        if (t < s.to)
            return s.low ? 0 : char_level(s.c, t);
    }
    return 1;
}

nanos receiver::first(int want, nanos from) const
{
    nanos t = from;
    for (const span &s : line_) {
        if (s.to <= t)
            continue;
        if (t < s.from) {
            if (want == 1)
                break;
            t = s.from;
        }
        const nanos at = s.low ? (want == 0 ? t : s.to) : std::min(char_first(s.c, want, t), s.to);
        if (at < s.to)
            return at < known_ ? at : NEVER;
        t = s.to;
    }
    return want == 1 && t < known_ ? t : NEVER;
}

const receiver::span *receiver::span_at(nanos t) const
{
    const auto at = std::find_if(line_.begin(), line_.end(),
                                 [t](const span &s) { return s.from <= t && t < s.to; });
    return at == line_.end() ? nullptr : &*at;
}

nanos receiver::sample_time(int k) const
{
    return bit_time(origin_, 2 * (bits_ + k) + 1);
}

nanos receiver::receiving_since() const
{
    return phase_ == phase::sampling ? bit_time(origin_, 2 * bits_) : NEVER;
}

nanos receiver::next_due() const
{
    return phase_ == phase::sampling ? sample_time(STOP) : NEVER;
}

std::vector<sent_byte> receiver::advance(nanos now_ns)
{
    known_ = std::max(known_, now_ns);
    std::vector<sent_byte> out;
    do {
        // What lies wholly before the earliest time still to be looked at goes.
        const nanos keep = phase_ == phase::sampling ? receiving_since() : at_;
        while (!line_.empty() && line_.front().to <= keep)
            line_.pop_front();
    } while (step(out));
    return out;
}

bool receiver::step(std::vector<sent_byte> &out)
{
    switch (phase_) {
    case phase::hunting:
        return hunt(out);
    case phase::sampling:
        return sample(out);
    case phase::waiting_high:
        break;
    }
    const nanos t = first(1, at_);
    if (t == NEVER)
        return false;
    phase_ = phase::hunting;
    at_ = t;
    return true;
}

bool receiver::hunt(std::vector<sent_byte> &out)
{
    const nanos t = first(0, at_);
    if (t == NEVER)
        return false;
    const span *s = span_at(t);
    if (s != nullptr && !s->low && s->from == s->c.start_ns && t == s->c.start_ns) {
        // In step: the whole character, as it was sent; busy until its end.
        out.push_back(s->c);
        at_ = std::max(s->c.end_ns, t + 1);
        return true;
    }
    phase_ = phase::sampling;
    origin_ = t;
    bits_ = 0;
    return true;
}

// A byte is taken whole once the line is known up to its stop sample; so is
// a false start, found a little later than it might be, in the same order.
bool receiver::sample(std::vector<sent_byte> &out)
{
    if (sample_time(STOP) >= known_)
        return false;
    int samples[SAMPLES];
    for (int k = 0; k < SAMPLES; k++) {
        samples[k] = level(sample_time(k));
        if (samples[k] < 0)
            return false;
        if (k == 0 && samples[0] == 1) {
            // A low under half a bit is no start bit: the 16550 hunts on.
            phase_ = phase::hunting;
            at_ = sample_time(0);
            return true;
        }
    }
    take_byte(samples, out);
    return true;
}

void receiver::take_byte(const int (&samples)[SAMPLES], std::vector<sent_byte> &out)
{
    unsigned value = 0;
    for (int bit = 0; bit < 8; bit++)
        value |= static_cast<unsigned>(samples[1 + bit]) << bit;
    const nanos start = receiving_since();
    const span *s = span_at(sample_time(0));
    sent_byte b{static_cast<std::uint8_t>(value), start, start + RECEIVER_CHAR_NS,
                s != nullptr ? s->c.settings : last_settings_};
    const nanos stop = sample_time(STOP);
    if (samples[STOP] == 1) {
        phase_ = phase::hunting;
        at_ = stop;
    } else if (value == 0) {
        // Every sample low: the break. Nothing more until the line is high.
        b.is_break = b.framing_error = true;
        phase_ = phase::waiting_high;
        at_ = stop;
    } else {
        // The low at the stop sample is taken for the next start bit. Whole
        // seconds of bits move into origin_, exactly, so the count stays small.
        b.framing_error = true;
        bits_ += STOP;
        origin_ += bits_ / RECEIVER_BAUD * NS_PER_S;
        bits_ %= RECEIVER_BAUD;
    }
    out.push_back(b);
}
