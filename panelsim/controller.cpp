// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "controller.h"

#include <algorithm>
#include <iterator>

namespace
{

// From a byte's start to its start sample: half the receiver's bit.
constexpr nanos HALF_BIT_NS = NS_PER_S / (2 * RECEIVER_BAUD);

} // namespace

void controller::keep(reports &out, reports more) const
{
    out.insert(out.end(), std::make_move_iterator(more.begin()),
               std::make_move_iterator(more.end()));
}

// Most characters, on a line that nothing upsets, start where the receiver
// hunts with nothing before them still to settle: they go to the frame rule
// at once, without the receiver's sampling.
controller::reports controller::sent(const sent_byte &b)
{
    if (drops_.empty() && lows_.empty() && rx_.passes(b)) {
        verdict_ns_ = std::max(verdict_ns_, b.end_ns + FRAME_GAP_MS * NS_PER_MS);
        return monitor_.take(b);
    }
    rx_.character(b);
    return take(b.start_ns);
}

// What a real UART received needs no sampling: it goes to the frame rule
// as it is, in its order.
controller::reports controller::received(const sent_byte &b)
{
    reports out;
    settle(b.start_ns, out);
    keep(out, monitor_.take(b));
    verdict_ns_ = std::max(verdict_ns_, b.end_ns + FRAME_GAP_MS * NS_PER_MS);
    return out;
}

controller::reports controller::went_low(nanos start_ns, const line_settings &s)
{
    rx_.low(start_ns, s);
    lows_.push_back({{start_ns, NEVER, 0, s, {}}});
    return take(start_ns);
}

controller::reports controller::broke(const line_break &b)
{
    if (!lows_.empty() && !lows_.back().ended) {
        lows_.back().line = b;
        lows_.back().ended = true;
    }
    rx_.high(b.end_ns, b.rest);
    return take(b.end_ns);
}

controller::reports controller::quiet(nanos t)
{
    reports out = take(t);
    // A byte still being sampled may continue the burst.
    keep(out, monitor_.idle(std::min(t, rx_.receiving_since())));
    return out;
}

controller::reports controller::dropped(std::size_t count, nanos t, const line_settings &s,
                                        frame_monitor::cause why)
{
    drops_.push_back({count, t, s, why});
    return take(t);
}

controller::reports controller::close()
{
    reports out = take(NEVER);
    keep(out, monitor_.flush());
    return out;
}

nanos controller::next_due() const
{
    const nanos burst = monitor_.deadline_ns();
    return std::min(rx_.next_due(), burst <= rx_.receiving_since() ? burst : NEVER);
}

controller::reports controller::take(nanos known)
{
    reports out;
    for (const sent_byte &b : rx_.advance(known)) {
        settle(b.start_ns, out);
        if (b.is_break)
            for (held_low &l : lows_)
                if (l.line.start_ns <= b.start_ns + HALF_BIT_NS &&
                    b.start_ns + HALF_BIT_NS < l.line.end_ns)
                    l.received = true;
        keep(out, monitor_.take(b));
        verdict_ns_ = std::max(verdict_ns_, b.end_ns + FRAME_GAP_MS * NS_PER_MS);
    }
    settle(rx_.receiving_since(), out);
    return out;
}

// A byte that starts at a drop's time left before it; one that starts at a
// break's end is no part of the break.
void controller::settle(nanos until, reports &out)
{
    while (!drops_.empty() && drops_.front().at < until) {
        const drop &d = drops_.front();
        keep(out, monitor_.cut(d.count, d.at, d.settings, d.why));
        drops_.pop_front();
    }
    while (!lows_.empty() && lows_.front().ended && lows_.front().line.end_ns <= until) {
        const held_low &l = lows_.front();
        if (l.received) {
            out.push_back(break_report(l.line));
            verdict_ns_ = std::max(verdict_ns_, l.line.end_ns);
        }
        lows_.pop_front();
    }
}
