// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// frames: what a display controller at 19200 8N1 makes of what leaves its
// line.
//
// Bytes are taken one at a time, as they leave the wire: each with the time
// its start bit began, the time its last stop bit ended, and the settings it
// left under. They come in bursts; a burst ends when the line has been quiet
// for FRAME_GAP_MS, far longer than the 4.17 ms an 8-byte frame takes on the
// wire. Every 8 bytes of a burst are a frame, judged byte by byte by all that
// a controller would notice. What remains when a burst ends is a frame cut
// short (when the burst held no whole frame) or bytes left over (after one).
//
// A break (the line held low for longer than a character) reaches the
// controller as a 16550 delivers it: one 00, with a framing error and the
// break indication, received at the break's start; then nothing while the
// line stays low. That 00 is a byte like any other: it joins the frame under
// way, or begins a new one, and the burst ends FRAME_GAP_MS after it unless
// another byte comes first. A long break therefore ends the frame it cut,
// and what follows is in step; after a short one, the frames of the same
// burst are out of step by the 00, unless the 00 was the last byte of its
// frame. The frame that holds a break's 00, and each one out of step by it,
// carries the code `break`. The break itself is reported on a line of its
// own when it ends, with its length and the bytes shifted out into it.
//
// Every fault has a stable code (speed, parity, cut_short, ...) beside the
// words people read.
//
// line_settings   the settings of the line as the panel knows them
// describe        settings as people say them: "19200 8N1 raw", "9600 7E1 opost"
// settings_faults what in the settings differs from the device's 19200 8N1 raw
// break_report    a break that has ended, as a report of its own
// frame_monitor   cuts what leaves the line into frame reports: frames, remnants
#ifndef FRAMES_H
#define FRAMES_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t FRAME_LEN = 8;
inline constexpr long long FRAME_GAP_MS = 100;
inline constexpr long long NS_PER_MS = 1000000;
// A time that never comes.
inline constexpr long long NEVER = LLONG_MAX;

// The line's settings. The flag words hold the terminal flags (the values of
// <termios.h>); the speeds are in bits per second, whatever way they were
// asked for. Where the panel cannot see what was asked (known false), the
// speed, stop bits and flags are those the line reports, and data bits and
// parity are not known at all.
struct line_settings {
    bool known = true;
    long baud = 19200; // 0: B0, hung up; -1: a speed code not known
    long in_baud = 0;  // 0: the same as baud
    int data_bits = 8;
    char parity = 'N'; // N, E, O, M (mark), S (space)
    int stop_bits = 1;
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;
    std::uint8_t stop_char = 023;  // what tcflow(TCIOFF) sends; 0: none
    std::uint8_t start_char = 021; // what tcflow(TCION) sends; 0: none

    // Everything about the line that a controller on it would notice:
    // speed, size, parity, stop bits, output processing and flow control.
    [[nodiscard]] bool same_to_controller(const line_settings &o) const;
    // The speed the UART sends at: at B0 the serial core sends at 9600.
    [[nodiscard]] long wire_baud() const { return baud == 0 ? 9600 : baud > 0 ? baud : 19200; }
    // Nanoseconds one character takes: start bit, data, parity, stop bits.
    [[nodiscard]] long long char_ns() const;
};

[[nodiscard]] std::string describe(const line_settings &s);

// One thing the device's setting (19200 8N1 raw) does not allow, or a
// controller would not take, with its stable code.
struct fault {
    const char *code;
    std::string text;
    bool operator==(const fault &o) const;
};

[[nodiscard]] std::vector<fault> settings_faults(const line_settings &s);

// One byte as it left the line.
struct sent_byte {
    std::uint8_t value = 0;
    long long start_ns = 0; // its start bit began
    long long end_ns = 0;   // its last stop bit ended
    line_settings settings; // what it left under
    bool is_break = false;  // a break's 00, as the controller receives it
};

// The line held low: a break, and the bytes the UART shifted out into it.
struct line_break {
    long long start_ns = 0;
    long long end_ns = 0;
    std::size_t lost = 0;
    line_settings settings;
};

struct line_report {
    enum kind_t { frame, brk };
    kind_t kind = frame;
    long long time_ns = 0;     // when the first byte started to leave, or the break began
    long long duration_ns = 0; // a break: how long the line was low
    std::vector<std::uint8_t> bytes;
    line_settings settings;      // those of the first byte
    std::vector<fault> problems; // empty: a clean frame
};

// A break that has ended, as a report of its own: its length, and the bytes
// shifted out into it.
[[nodiscard]] line_report break_report(const line_break &b);

class frame_monitor
{
  public:
    // Takes one byte off the line; returns the reports it completes (the
    // burst before it, when the line was quiet long enough in between).
    [[nodiscard]] std::vector<line_report> take(const sent_byte &b);

    // The line went low at start_ns: a break's 00, a byte like any other.
    [[nodiscard]] std::vector<line_report> went_low(long long start_ns,
                                                    const line_settings &settings);

    // Ends the burst if the line has been quiet for FRAME_GAP_MS by now_ns;
    // returns the short frame or the left-over bytes it held, if any.
    [[nodiscard]] std::vector<line_report> idle(long long now_ns);

    // Why bytes not yet sent were dropped: a flush of output, or a run
    // ended by force while they still waited.
    enum cause { flushed, run_ended };

    // The bytes not yet sent were dropped: the frame under way is cut short
    // there, and says how many never left.
    [[nodiscard]] std::vector<line_report> cut(std::size_t discarded, long long now_ns,
                                               const line_settings &settings, cause why = flushed);

    // Ends the burst whatever the time (the line is going away).
    [[nodiscard]] std::vector<line_report> flush();

    // When the current burst ends, or -1 when there is none.
    [[nodiscard]] long long deadline_ns() const;

  private:
    [[nodiscard]] line_report report() const;
    void judge_breaks(line_report &r) const;
    [[nodiscard]] std::vector<line_report> end_burst(fault why);
    [[nodiscard]] std::vector<line_report> add(const sent_byte &b);

    std::vector<sent_byte> pending_;
    long long last_end_ = -1; // -1: no burst under way
    std::size_t frames_in_burst_ = 0;
    bool out_of_step_ = false; // a break's 00 in the burst shifted the frames after it
};

#endif
