// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "settings.h"

#include <bit>
#include <cstdio>
#include <termios.h>
#include <utility>

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
    if (baud == 0)
        return "B0";
    return baud > 0 ? std::to_string(baud) : "B?";
}

} // namespace

bool fault::operator==(const fault &o) const
{
    return std::string(code) == o.code && text == o.text;
}

bool line_settings::same_to_controller(const line_settings &o) const
{
    const auto flow = [](const line_settings &s) {
        return std::make_pair(s.cflag & CRTSCTS, s.iflag & (IXON | IXOFF));
    };
    return known == o.known && baud == o.baud && data_bits == o.data_bits && parity == o.parity &&
           stop_bits == o.stop_bits && (oflag & OPOST) == (o.oflag & OPOST) &&
           flow(*this) == flow(o);
}

nanos line_settings::char_ns() const
{
    const nanos bits = 1 + data_bits + (parity != 'N' ? 1 : 0) + stop_bits;
    const nanos rate = wire_baud();
    return (bits * NS_PER_S + rate / 2) / rate;
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

std::vector<fault> settings_faults(const line_settings &s)
{
    std::vector<fault> faults;
    if (!s.known)
        faults.push_back({"settings_unknown", "settings unknown"});
    if (s.baud == 0)
        faults.push_back({"speed", "speed B0 (hung up: sent at 9600), not 19200"});
    else if (s.baud != 19200)
        faults.push_back({"speed", "speed " + speed_text(s.baud) + ", not 19200"});
    if (s.known && s.data_bits != 8)
        faults.push_back({"data_bits", std::to_string(s.data_bits) + " data bits"});
    if (s.known && s.parity != 'N')
        faults.push_back({"parity", std::string("parity ") + s.parity});
    if (s.stop_bits != 1)
        faults.push_back(
            {"stop_bits", "2 stop bits, not the device's 1 (a controller at 8N1 takes them)"});
    if (s.oflag & OPOST)
        faults.push_back({"output_processing", "output processing on"});
    if (s.cflag & CRTSCTS)
        faults.push_back({"flow_control", "RTS/CTS flow control"});
    if (s.iflag & (IXON | IXOFF))
        faults.push_back({"flow_control", "XON/XOFF flow control"});
    return faults;
}

int bit_level(std::uint8_t value, int data_bits, char parity, int bit)
{
    const unsigned data = value & ((1U << data_bits) - 1U);
    if (bit == 0)
        return 0;
    if (bit <= data_bits)
        return static_cast<int>((data >> (bit - 1)) & 1U);
    if (bit > data_bits + 1 || parity == 'N')
        return 1;
    const int odd_ones = std::popcount(data) & 1;
    switch (parity) {
    case 'E':
        return odd_ones;
    case 'O':
        return odd_ones ^ 1;
    case 'M':
        return 1;
    default: // 'S'
        return 0;
    }
}
