// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "line_ops.h"

#include <algorithm>

namespace
{

line_settings with(long baud, int bits, char parity, int stop)
{
    line_settings s;
    s.baud = baud;
    s.data_bits = bits;
    s.parity = parity;
    s.stop_bits = stop;
    return s;
}

const line_settings SETTINGS[] = {with(19200, 8, 'N', 1), with(9600, 7, 'E', 1),
                                  with(0, 8, 'N', 1),     with(115200, 8, 'O', 2),
                                  with(50, 5, 'M', 2),    with(-1, 6, 'S', 1)};

// How far time moves on: up to 63 steps of 100 us, or of 10 ms.
nanos step(std::uint8_t b)
{
    return (b & 0x3f) * ((b & 0x40) != 0 ? 10 * NS_PER_MS : 100 * NS_PER_US);
}

} // namespace

void line_run::keep(std::vector<line_report> more)
{
    reports.insert(reports.end(), more.begin(), more.end());
}

void line_run::receive(nanos t)
{
    const std::vector<sent_byte> more = rx.advance(t);
    received.insert(received.end(), more.begin(), more.end());
}

void line_run::sent(const sent_byte &b)
{
    events.push_back({true, b, {}});
    keep(judge.sent(b));
    rx.character(b);
    receive(b.start_ns);
}

void line_run::went_low(nanos start_ns, const line_settings &s)
{
    went_low_once = true;
    keep(judge.went_low(start_ns, s));
    rx.low(start_ns, s);
    receive(start_ns);
}

void line_run::broke(const line_break &b)
{
    events.push_back({false, {}, b});
    keep(judge.broke(b));
    rx.high(b.end_ns, b.rest);
    receive(b.end_ns);
}

void run_line_ops(std::span<const std::uint8_t> data, line_run &run)
{
    if (data.size() < 2)
        return;
    const wire_options options{std::size_t{16} + data[0] * std::size_t{16}, (data[1] & 1) != 0};
    wire w(SETTINGS[0], options, run);
    nanos now = 0;
    std::size_t at = 2;
    while (at + 2 <= data.size()) {
        const std::uint8_t what = data[at];
        now += step(data[at + 1]);
        at += 2;
        w.advance(now);
        run.keep(run.judge.quiet(now));
        run.receive(now);
        const unsigned arg = what >> 4U;
        switch ((what & 0x0fU) % 10) {
        case 0: { // a write of arg + 1 bytes
            const std::size_t n = std::min<std::size_t>(arg + 1, data.size() - at);
            (void)w.take(data.subspan(at, n), now);
            at += n;
            break;
        }
        case 1:
            w.change(SETTINGS[arg % std::size(SETTINGS)], now);
            break;
        case 2:
            run.keep(run.judge.dropped(w.discard(now), now, w.settings()));
            break;
        case 3:
            w.suspend(now);
            break;
        case 4:
            w.resume(now);
            break;
        case 5:
            w.send_flow_char((arg & 1) != 0 ? 021 : 023, now);
            break;
        case 6:
            w.break_on(now, arg == 0 ? NEVER : static_cast<nanos>(arg) * 10 * NS_PER_MS);
            break;
        case 7:
            w.break_off(now);
            break;
        default:
            break; // time moves on alone
        }
    }
    w.break_off(now);
    w.resume(now);
    const nanos end = std::max(now, w.idle_at());
    w.advance(end);
    run.keep(run.judge.quiet(end + FRAME_GAP_MS * NS_PER_MS));
    run.keep(run.judge.close());
    run.receive(NEVER);
}
