// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Test helper: the panel's own wire, verdicts, reporter and dump, played by a
// script at exact times, as a program's calls would play them on the line if
// neither it nor the panel ever lost a moment. Cases whose verdict hangs on
// a pause near a threshold (a gap in a frame, a break shorter than a
// character) are played here, where no load on the machine can stretch it.
//
//   line_script [--vcd FILE] STEP...
//
// The steps are the sender's (tests/sender.cpp), each at the time the
// script has reached, which starts at 1 ms (a logic analyser's decoder sees
// no start bit at time 0) with the line at 19200 8N1 raw:
//
//   termios:BAUD:FRAMING[:now|drain]  a change of settings, at once or once the output has left
//   write:HEX[:N]        the bytes, N times over, written at once; a write that
//                        does not fit waits for room, as a blocking write does
//   drain                tcdrain: time moves on until the output has left
//   flush                tcflush of output
//   break                tcsendbreak: the output leaves, then 250 ms of break
//   break:on | break:off TIOCSBRK, TIOCCBRK
//   flow:ooff|oon|ioff|ion   tcflow
//   sleep:MS             time moves on by MS milliseconds (sleep:0.15 is 150 us)
//
// Then the line falls quiet, as when the panel's command ends. The reports
// go to standard output as `panelsim --json` writes them. Exit status 0, or
// 2 with a message for a step it does not know.
#include "split.h"
#include "verdicts.h"
#include "wire.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <termios.h>
#include <vector>

namespace
{

constexpr nanos SEND_BREAK_NS = 250 * NS_PER_MS;
constexpr nanos START_NS = NS_PER_MS;

line_settings settings_of(const std::vector<std::string> &p)
{
    line_settings s;
    s.baud = std::stol(p.at(1));
    const std::string &framing = p.at(2);
    s.data_bits = framing.at(0) - '0';
    s.parity = framing.at(1);
    s.stop_bits = framing.at(2) - '0';
    if (framing.find("+crtscts") != std::string::npos)
        s.cflag = CRTSCTS;
    return s;
}

std::vector<std::uint8_t> bytes_of(const std::vector<std::string> &p)
{
    std::vector<std::uint8_t> bytes;
    for (long n = p.size() > 2 ? std::stol(p[2]) : 1; n > 0; n--)
        for (std::size_t i = 0; i + 1 < p.at(1).size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(p[1].substr(i, 2), nullptr, 16)));
    return bytes;
}

// The line and its time, as the panel's loop keeps them.
struct line_play {
    wire &w;
    verdicts &judged;
    nanos now = 0;

    void until(nanos t)
    {
        now = std::max(now, t);
        w.advance(now);
        judged.quiet(now);
    }
    void drain() { until(w.idle_at()); }
    void write(const std::vector<std::uint8_t> &bytes)
    {
        std::size_t done = w.take(bytes, now);
        while (done < bytes.size()) {
            until(w.writable_at());
            done += w.take(std::span(bytes).subspan(done), now);
        }
    }
    void send_break()
    {
        drain();
        w.break_on(now, SEND_BREAK_NS);
        until(w.break_until());
    }
    void flow(const std::string &how)
    {
        if (how == "ooff")
            w.suspend(now);
        else if (how == "oon")
            w.resume(now);
        else
            w.send_flow_char(how == "ioff" ? w.settings().stop_char : w.settings().start_char, now);
    }
};

bool play(line_play &line, const std::string &step)
{
    const auto p = split(step, ':');
    const std::string &what = p[0];
    if (what == "termios") {
        if (p.size() > 3 && p[3] != "now")
            line.drain();
        line.w.change(settings_of(p), line.now);
    } else if (what == "write") {
        line.write(bytes_of(p));
    } else if (what == "drain") {
        line.drain();
    } else if (what == "flush") {
        line.judged.dropped(line.w.discard(line.now), line.now, line.w.settings());
    } else if (what == "break" && p.size() == 1) {
        line.send_break();
    } else if (what == "break") {
        if (p[1] == "on")
            line.w.break_on(line.now);
        else
            line.w.break_off(line.now);
    } else if (what == "flow" && p.size() == 2) {
        line.flow(p[1]);
    } else if (what == "sleep" && p.size() == 2) {
        line.until(line.now + std::llround(std::strtod(p[1].c_str(), nullptr) * NS_PER_MS));
    } else {
        return false;
    }
    line.until(line.now);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    int first = 1;
    vcd_writer vcd;
    if (argc > 2 && std::strcmp(argv[1], "--vcd") == 0) {
        if (!vcd.open(argv[2])) {
            perror(argv[2]);
            return 2;
        }
        first = 3;
    }
    reporter out(stdout, true, 0);
    verdicts judged(out, vcd);
    wire w(line_settings{}, {}, judged);
    line_play line{w, judged, START_NS};
    for (int i = first; i < argc; i++) {
        if (!play(line, argv[i])) {
            fprintf(stderr, "line_script: unknown step %s\n", argv[i]);
            return 2;
        }
    }
    // The command has ended: its last close waited for the output.
    line.drain();
    w.break_off(line.now);
    line.until(line.now);
    judged.close(line.now);
    return 0;
}
