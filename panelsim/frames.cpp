// SPDX-License-Identifier: MIT
#include "frames.h"

#include <algorithm>
#include <cstdio>
#include <termios.h>

namespace
{

struct flag_name {
    unsigned line_settings::*field;
    unsigned bit;
    const char *name;
};

// The flags that make a line other than raw. Output mappings count only while
// output processing is on; that is how stty's "raw" leaves them.
constexpr flag_name OUTPUT[] = {
    {&line_settings::oflag, ONLCR, "onlcr"},
    {&line_settings::oflag, OCRNL, "ocrnl"},
};
constexpr flag_name OTHERS[] = {
    {&line_settings::iflag, ICRNL, "icrnl"},     {&line_settings::iflag, INLCR, "inlcr"},
    {&line_settings::iflag, IGNCR, "igncr"},     {&line_settings::iflag, ISTRIP, "istrip"},
    {&line_settings::iflag, IXON, "ixon"},       {&line_settings::iflag, IXOFF, "ixoff"},
    {&line_settings::cflag, CRTSCTS, "crtscts"}, {&line_settings::lflag, ICANON, "icanon"},
    {&line_settings::lflag, ECHO, "echo"},       {&line_settings::lflag, ISIG, "isig"},
};

std::string speed_text(long baud)
{
    return baud >= 0 ? std::to_string(baud) : "B?";
}

} // namespace

long long line_settings::char_ns() const
{
    const long long bits = 1 + data_bits + (parity != 'N' ? 1 : 0) + stop_bits;
    // A line at speed 0 is hung up; its bytes are timed as at 19200.
    const long long rate = baud > 0 ? baud : 19200;
    return (bits * 1000000000LL + rate / 2) / rate;
}

std::string describe(const line_settings &s)
{
    char frame[8];
    if (s.known)
        snprintf(frame, sizeof frame, "%d%c%d", s.data_bits, s.parity, s.stop_bits);
    else
        snprintf(frame, sizeof frame, "??%d", s.stop_bits);
    std::string text = speed_text(s.baud) + " " + frame;
    if (s.in_baud != 0 && s.in_baud != s.baud)
        text += " (in " + speed_text(s.in_baud) + ")";
    std::string flags;
    if (s.oflag & OPOST) {
        flags += " opost";
        for (const auto &f : OUTPUT)
            if (s.*f.field & f.bit)
                flags += std::string(" ") + f.name;
    }
    for (const auto &f : OTHERS)
        if (s.*f.field & f.bit)
            flags += std::string(" ") + f.name;
    return text + (flags.empty() ? " raw" : flags);
}

std::vector<std::string> settings_faults(const line_settings &s)
{
    std::vector<std::string> faults;
    if (!s.known)
        faults.emplace_back("settings unknown");
    if (s.baud != 19200)
        faults.push_back("speed " + speed_text(s.baud) + ", not 19200");
    if (s.known && s.data_bits != 8)
        faults.push_back(std::to_string(s.data_bits) + " data bits");
    if (s.known && s.parity != 'N')
        faults.push_back(std::string("parity ") + s.parity);
    if (s.stop_bits != 1)
        faults.emplace_back("2 stop bits");
    if (s.oflag & OPOST)
        faults.emplace_back("output processing on");
    if (s.cflag & CRTSCTS)
        faults.emplace_back("RTS/CTS flow control");
    if (s.iflag & (IXON | IXOFF))
        faults.emplace_back("XON/XOFF flow control");
    return faults;
}

line_report frame_monitor::report() const
{
    line_report r;
    r.time_ns = pending_.front().start_ns;
    r.settings = pending_.front().settings;
    r.problems = settings_faults(r.settings);
    for (const auto &b : pending_)
        r.bytes.push_back(b.value);
    // A frame whose bytes left under other settings than its first one's is
    // garbage from there on: say from which byte, and what was wrong then.
    const auto changed = std::find_if(pending_.begin(), pending_.end(), [&](const sent_byte &b) {
        return !b.settings.same_wire(r.settings);
    });
    if (changed != pending_.end()) {
        r.problems.push_back("settings changed from byte " +
                             std::to_string(changed - pending_.begin() + 1) + ": " +
                             describe(changed->settings));
        for (auto &f : settings_faults(changed->settings))
            if (std::find(r.problems.begin(), r.problems.end(), f) == r.problems.end())
                r.problems.push_back(std::move(f));
    }
    return r;
}

std::vector<line_report> frame_monitor::take(const sent_byte &b)
{
    std::vector<line_report> out;
    if (last_end_ >= 0 && b.start_ns - last_end_ >= FRAME_GAP_MS * NS_PER_MS)
        out = flush();
    pending_.push_back(b);
    last_end_ = b.end_ns;
    if (pending_.size() == FRAME_LEN) {
        out.push_back(report());
        pending_.clear();
        frames_in_burst_++;
    }
    return out;
}

std::vector<line_report> frame_monitor::idle(long long now_ns)
{
    if (last_end_ < 0 || now_ns - last_end_ < FRAME_GAP_MS * NS_PER_MS)
        return {};
    return flush();
}

std::vector<line_report> frame_monitor::cut(std::size_t discarded, long long now_ns,
                                            const line_settings &settings)
{
    if (discarded == 0)
        return {};
    line_report r;
    if (pending_.empty()) {
        r.time_ns = now_ns;
        r.settings = settings;
        r.problems = settings_faults(settings);
    } else {
        r = report();
    }
    r.problems.insert(r.problems.begin(),
                      "cut short by a flush of output: " + std::to_string(r.bytes.size()) +
                          " of 8 bytes sent, " + std::to_string(discarded) + " discarded");
    pending_.clear();
    frames_in_burst_ = 0;
    return {r};
}

std::vector<line_report> frame_monitor::flush()
{
    std::vector<line_report> out;
    if (!pending_.empty()) {
        line_report r = report();
        const std::size_t n = pending_.size();
        r.problems.insert(r.problems.begin(),
                          frames_in_burst_ == 0
                              ? "short frame: " + std::to_string(n) + " of 8 bytes"
                              : std::to_string(n) + (n == 1 ? " byte" : " bytes") + " left over");
        out.push_back(std::move(r));
        pending_.clear();
    }
    last_end_ = -1;
    frames_in_burst_ = 0;
    return out;
}

long long frame_monitor::deadline_ns() const
{
    return last_end_ < 0 ? -1 : last_end_ + FRAME_GAP_MS * NS_PER_MS;
}
