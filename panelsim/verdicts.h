// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// verdicts: what leaves the line, judged and written out.
//
// The wire tells it every byte and break as it leaves. It owns the sinks:
// the controller (its receiver and frame monitor) that takes the line as the
// display controller would and judges the frames, the dump of the line
// (VCD), and the reporter that prints each report as it is made; and the
// panel's notices about settings it could not see, each said once. It knows
// nothing of the programs' calls.
//
// The dump ends at the latest of the run's end, the last stop bit, and the
// last verdict plus DUMP_MARGIN_NS: a decoder reading it sees the idle line
// that ended the last frame, as the panel did.
//
// verdicts::sent/went_low/broke  the wire's bytes and breaks (line_listener)
// verdicts::received what a real UART received, with its errors and breaks
// verdicts::quiet    the line is known up to a time: bytes received, bursts ended
// verdicts::dropped  bytes not yet sent were dropped: the frame under way is cut short
// verdicts::close    the line goes away: the last burst, the dump's end, the summary
// verdicts::unseen   says, once, that settings were not seen
// verdicts::next_due when a byte is received or a burst ends by itself; NEVER without one
#ifndef VERDICTS_H
#define VERDICTS_H

#include "clock.h"
#include "controller.h"
#include "frames.h"
#include "report.h"
#include "vcd.h"
#include "wire.h"

#include <cstddef>
#include <string>
#include <vector>

// How long the dump runs on after the last verdict: four characters at
// 19200 8N1, twice what sigrok's UART decoder needs to tell the idle line.
inline constexpr nanos DUMP_MARGIN_NS = NS_PER_S * 4 * 10 / 19200;

class verdicts final : public line_listener
{
  public:
    verdicts(reporter &out, vcd_writer &vcd) : out_(out), vcd_(vcd) {}

    void sent(const sent_byte &b) override;
    void went_low(nanos start_ns, const line_settings &s) override;
    void broke(const line_break &b) override;

    void received(const sent_byte &b);
    void quiet(nanos t);
    void dropped(std::size_t count, nanos t, const line_settings &s,
                 frame_monitor::cause why = frame_monitor::flushed);
    void close(nanos t);
    void unseen(const std::string &why);
    [[nodiscard]] nanos next_due() const { return controller_.next_due(); }

  private:
    void print(const std::vector<line_report> &reports);

    reporter &out_;
    vcd_writer &vcd_;
    controller controller_;
    bool said_unseen_ = false;
};

#endif
