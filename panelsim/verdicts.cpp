// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "verdicts.h"

#include <algorithm>
#include <cstdio>

namespace
{

wire_format format_of(const line_settings &s)
{
    return {s.wire_baud(), s.data_bits, s.parity, s.stop_bits};
}

} // namespace

void verdicts::sent(const sent_byte &b)
{
    vcd_.byte(b.value, b.start_ns, format_of(b.settings));
    print(controller_.sent(b));
}

// The dump shows a character received with an error with its stop bit low,
// and a break's 00 as a character's time of low line.
void verdicts::received(const sent_byte &b)
{
    const wire_format f = format_of(b.settings);
    if (b.is_break) {
        vcd_.low(b.start_ns, b.end_ns);
    } else {
        vcd_.byte(b.value, b.start_ns, f);
        if (b.framing_error)
            vcd_.low(b.end_ns - b.settings.char_ns() / char_bits(f), b.end_ns);
    }
    print(controller_.received(b));
}

void verdicts::went_low(nanos start_ns, const line_settings &s)
{
    print(controller_.went_low(start_ns, s));
}

void verdicts::broke(const line_break &b)
{
    vcd_.low(b.start_ns, b.end_ns);
    if (b.rest)
        vcd_.byte(b.rest->value, b.rest->start_ns, format_of(b.rest->settings), b.end_ns);
    print(controller_.broke(b));
}

void verdicts::quiet(nanos t)
{
    print(controller_.quiet(t));
}

void verdicts::dropped(std::size_t count, nanos t, const line_settings &s, frame_monitor::cause why)
{
    print(controller_.dropped(count, t, s, why));
}

// The dump runs on to the last stop bit if that is later than t, and past
// the last verdict.
void verdicts::close(nanos t)
{
    print(controller_.close());
    if (vcd_.is_open() && !vcd_.close(std::max(t, controller_.verdict_ns() + DUMP_MARGIN_NS)))
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
