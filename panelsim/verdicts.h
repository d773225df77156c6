// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// verdicts: what leaves the line, judged and written out.
//
// The wire tells it every byte and break as it leaves. It owns the sinks:
// the frame monitor that cuts bytes into frames and judges them, the dump
// of the line (VCD), and the reporter that prints each report as it is
// made; and the panel's notices about settings it could not see, each said
// once. It knows nothing of the programs' calls.
//
// verdicts::sent/went_low/broke  the wire's bytes and breaks (line_listener)
// verdicts::quiet    the line has been quiet until a time: a burst may end
// verdicts::dropped  bytes not yet sent were dropped: the frame under way is cut short
// verdicts::close    the line goes away: the last burst, the dump's end, the summary
// verdicts::unseen   says, once, that settings were not seen
// verdicts::next_due when a burst ends by itself; NEVER without one
#ifndef VERDICTS_H
#define VERDICTS_H

#include "clock.h"
#include "frames.h"
#include "report.h"
#include "vcd.h"
#include "wire.h"

#include <cstddef>
#include <string>
#include <vector>

class verdicts final : public line_listener
{
  public:
    verdicts(reporter &out, vcd_writer &vcd) : out_(out), vcd_(vcd) {}

    void sent(const sent_byte &b) override;
    void went_low(nanos start_ns, const line_settings &s) override;
    void broke(const line_break &b) override;

    void quiet(nanos t);
    void dropped(std::size_t count, nanos t, const line_settings &s,
                 frame_monitor::cause why = frame_monitor::flushed);
    void close(nanos t);
    void unseen(const std::string &why);
    [[nodiscard]] nanos next_due() const { return monitor_.deadline_ns(); }

  private:
    void print(const std::vector<line_report> &reports);

    reporter &out_;
    vcd_writer &vcd_;
    frame_monitor monitor_;
    bool said_unseen_ = false;
};

#endif
