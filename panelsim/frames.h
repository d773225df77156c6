// SPDX-License-Identifier: MIT
// frames: what a display controller at 19200 8N1 makes of the bytes on its
// line.
//
// Bytes are taken one at a time, as they leave the wire: each with the time
// its start bit began, the time its last stop bit ended, and the settings it
// left under. They come in bursts; a burst ends when the line has been quiet
// for FRAME_GAP_MS, far longer than the 4.17 ms an 8-byte frame takes on the
// wire. Every 8 bytes of a burst are a frame, judged by the settings of every
// one of its bytes. What remains when a burst ends is a frame cut short (when
// the burst held no whole frame) or bytes left over (after one).
//
// line_settings   the settings of the line as the panel knows them
// describe        settings as people say them: "19200 8N1 raw", "9600 7E1 opost"
// settings_faults what in the settings a 19200 8N1 raw controller would not take
// frame_monitor   cuts the bytes into reports, one per frame or remnant
#ifndef FRAMES_H
#define FRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t FRAME_LEN = 8;
inline constexpr long long FRAME_GAP_MS = 100;
inline constexpr long long NS_PER_MS = 1000000;

// The line's settings. The flag words hold the terminal flags (the values of
// <termios.h>); the speeds are in bits per second, whatever way they were
// asked for. Where the panel cannot see what was asked (known false), the
// speed, stop bits and flags are those the line reports, and data bits and
// parity are not known at all.
struct line_settings {
    bool known = true;
    long baud = 19200;
    long in_baud = 0; // 0: the same as baud
    int data_bits = 8;
    char parity = 'N'; // N, E, O, M (mark), S (space)
    int stop_bits = 1;
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;

    // The same character on the wire: speed, size, parity and stop bits.
    [[nodiscard]] bool same_wire(const line_settings &o) const
    {
        return known == o.known && baud == o.baud && data_bits == o.data_bits &&
               parity == o.parity && stop_bits == o.stop_bits;
    }
    // Nanoseconds one character takes: start bit, data, parity, stop bits.
    [[nodiscard]] long long char_ns() const;
};

[[nodiscard]] std::string describe(const line_settings &s);
[[nodiscard]] std::vector<std::string> settings_faults(const line_settings &s);

// One byte as it left the line.
struct sent_byte {
    std::uint8_t value = 0;
    long long start_ns = 0; // its start bit began
    long long end_ns = 0;   // its last stop bit ended
    line_settings settings; // what it left under
};

struct line_report {
    long long time_ns = 0; // when the first byte started to leave
    std::vector<std::uint8_t> bytes;
    line_settings settings;            // those of the first byte
    std::vector<std::string> problems; // empty: a clean frame
};

class frame_monitor
{
  public:
    // Takes one byte off the line; returns the reports it completes (the
    // burst before it, when the line was quiet long enough in between).
    [[nodiscard]] std::vector<line_report> take(const sent_byte &b);

    // Ends the burst if the line has been quiet for FRAME_GAP_MS by now_ns;
    // returns the short frame or the left-over bytes it held, if any.
    [[nodiscard]] std::vector<line_report> idle(long long now_ns);

    // The bytes not yet sent were discarded (a flush of output): the frame
    // under way is cut short there.
    [[nodiscard]] std::vector<line_report> cut(std::size_t discarded, long long now_ns,
                                               const line_settings &settings);

    // Ends the burst whatever the time (the line is going away).
    [[nodiscard]] std::vector<line_report> flush();

    // When the current burst ends, or -1 when there is none.
    [[nodiscard]] long long deadline_ns() const;

  private:
    [[nodiscard]] line_report report() const;

    std::vector<sent_byte> pending_;
    long long last_end_ = -1; // -1: no burst under way
    std::size_t frames_in_burst_ = 0;
};

#endif
