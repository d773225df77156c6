// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "verdicts.h"

#include <cstdio>

void verdicts::sent(const sent_byte &b)
{
    const line_settings &s = b.settings;
    vcd_.byte(b.value, b.start_ns, {s.wire_baud(), s.data_bits, s.parity, s.stop_bits});
    print(monitor_.take(b));
}

void verdicts::went_low(nanos start_ns, const line_settings &s)
{
    print(monitor_.went_low(start_ns, s));
}

void verdicts::broke(const line_break &b)
{
    vcd_.low(b.start_ns, b.end_ns);
    out_.print(break_report(b));
}

void verdicts::quiet(nanos t)
{
    print(monitor_.idle(t));
}

void verdicts::dropped(std::size_t count, nanos t, const line_settings &s, frame_monitor::cause why)
{
    print(monitor_.cut(count, t, s, why));
}

// The dump runs on to the last stop bit if that is later than t.
void verdicts::close(nanos t)
{
    print(monitor_.flush());
    if (vcd_.is_open() && !vcd_.close(t))
        perror("panelsim: the line's dump");
    out_.summary();
}

void verdicts::unseen(const std::string &why)
{
    if (!said_unseen_)
        fprintf(stderr,
                "panelsim: %s: frames sent under settings not seen are flagged \"settings "
                "unknown\"\n",
                why.c_str());
    said_unseen_ = true;
}

void verdicts::print(const std::vector<line_report> &reports)
{
    for (const auto &r : reports)
        out_.print(r);
}
