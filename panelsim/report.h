// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// report: the panel's verdicts, as people read them or as JSON Lines.
//
// One line per report, in the order the line gave them: a frame (or what a
// burst left of one) with its bytes in hexadecimal, the settings it left
// under and, after "!!", what a controller would not take or the device is
// not set for; or a break. The time is the wall-clock time of day at which
// the report's first start bit (or the break) began, from the monotonic
// clock the panel keeps its times on. The summary ends the run: "frames"
// counts the frame reports (whole frames, frames cut short, bytes left
// over), "flagged" those of them with a flag. Break reports count in
// neither: a break's 00 is a byte of a frame report, which carries the code
// "break".
//
// With JSON, every line is a JSON object of its own: {"type": "frame" |
// "break", "time": ISO 8601 with milliseconds, "t_ns": monotonic ns since the
// panel started, "bytes", "settings", "clean", "flags": [{"code", "text"}]},
// a break also with "duration_ns"; the summary is {"type": "summary",
// "frames", "flagged"}.
//
// reporter::print    one report
// reporter::summary  the last line
#ifndef REPORT_H
#define REPORT_H

#include "frames.h"

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

class reporter
{
  public:
    // start_ns: the panel's start, on the monotonic clock; reports' times
    // count from it.
    reporter(std::FILE *to, bool json, nanos start_ns);

    void print(const line_report &r);
    void summary();

    [[nodiscard]] bool flagged() const { return flagged_ > 0; }

  private:
    void text(const line_report &r, nanos wall_ns);
    void json(const line_report &r, nanos wall_ns);
    // The local time of day at wall_ns, and its milliseconds; the zone is
    // looked up once a second, as reports come many to a second.
    tm local_time(nanos wall_ns, long long &ms);

    std::FILE *to_;
    bool json_;
    nanos wall_offset_; // wall clock minus monotonic, at the start
    nanos start_ns_;
    std::size_t frames_ = 0;
    std::size_t flagged_ = 0;
    time_t second_ = -1;
    tm local_{};
};

// s as a JSON string, quotes included.
[[nodiscard]] std::string json_string(const std::string &s);

#endif
