// frames: what a display controller at 19200 8N1 makes of the bytes on its
// line.
//
// Bytes come in bursts; a burst ends when the line has been quiet for
// FRAME_GAP_MS, far longer than the 4 ms an 8-byte frame takes on the wire.
// Every 8 bytes of a burst are a frame, judged by the settings in force when
// its first byte arrived. What remains when a burst ends is a frame cut short
// (when the burst held no whole frame) or bytes left over (after one).
//
// describe       settings as people say them: "19200 8N1 raw", "9600 7E1 opost"
// settings_faults what in the settings a 19200 8N1 raw controller would not take
// frame_monitor  cuts the byte stream into reports, one per frame or remnant
#ifndef FRAMES_H
#define FRAMES_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <termios.h>
#include <vector>

inline constexpr std::size_t FRAME_LEN = 8;
inline constexpr long long FRAME_GAP_MS = 100;

[[nodiscard]] std::string describe(const termios &tio);
[[nodiscard]] std::vector<std::string> settings_faults(const termios &tio);

struct line_report {
    long long time_ms = 0; // when the first byte arrived
    std::vector<std::uint8_t> bytes;
    termios settings{};
    std::vector<std::string> problems; // empty: a clean frame
};

class frame_monitor
{
  public:
    // Takes bytes that arrived at now_ms under settings; returns the frames
    // they complete.
    [[nodiscard]] std::vector<line_report> feed(std::span<const std::uint8_t> bytes,
                                                const termios &settings, long long now_ms);

    // Ends the burst if the line has been quiet for FRAME_GAP_MS by now_ms;
    // returns the short frame or the left-over bytes it held, if any.
    [[nodiscard]] std::vector<line_report> idle(long long now_ms);

    // Ends the burst whatever the time (the line is going away).
    [[nodiscard]] std::vector<line_report> flush();

    // Milliseconds until the current burst ends, or -1 when there is none.
    [[nodiscard]] int wait_ms(long long now_ms) const;

  private:
    std::vector<std::uint8_t> pending_;
    termios pending_settings_{};
    long long pending_time_ = 0;
    long long last_byte_ = -1; // -1: no burst under way
    std::size_t frames_in_burst_ = 0;
};

#endif
