#include "frames.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace
{

struct speed_name {
    speed_t code;
    long baud; // cppcheck-suppress unusedStructMember ; read through find_if
};

constexpr speed_name SPEEDS[] = {
    {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
    {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
};

long baud(speed_t code)
{
    const auto *s = std::find_if(std::begin(SPEEDS), std::end(SPEEDS),
                                 [code](const speed_name &n) { return n.code == code; });
    return s != std::end(SPEEDS) ? s->baud : -1;
}

std::string speed_text(speed_t code)
{
    const long b = baud(code);
    return b >= 0 ? std::to_string(b) : "B?" + std::to_string(code);
}

int data_bits(const termios &tio)
{
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

char parity(const termios &tio)
{
    if ((tio.c_cflag & PARENB) == 0)
        return 'N';
    if (tio.c_cflag & CMSPAR)
        return tio.c_cflag & PARODD ? 'M' : 'S';
    return tio.c_cflag & PARODD ? 'O' : 'E';
}

struct flag_name {
    tcflag_t termios::*field;
    tcflag_t bit;
    const char *name;
};

// The flags that make a line other than raw. Output mappings count only while
// output processing is on; that is how stty's "raw" leaves them.
constexpr flag_name OUTPUT[] = {
    {&termios::c_oflag, ONLCR, "onlcr"},
    {&termios::c_oflag, OCRNL, "ocrnl"},
};
constexpr flag_name OTHERS[] = {
    {&termios::c_iflag, ICRNL, "icrnl"},     {&termios::c_iflag, INLCR, "inlcr"},
    {&termios::c_iflag, IGNCR, "igncr"},     {&termios::c_iflag, ISTRIP, "istrip"},
    {&termios::c_iflag, IXON, "ixon"},       {&termios::c_iflag, IXOFF, "ixoff"},
    {&termios::c_cflag, CRTSCTS, "crtscts"}, {&termios::c_lflag, ICANON, "icanon"},
    {&termios::c_lflag, ECHO, "echo"},       {&termios::c_lflag, ISIG, "isig"},
};

} // namespace

std::string describe(const termios &tio)
{
    char frame[8];
    snprintf(frame, sizeof frame, "%d%c%d", data_bits(tio), parity(tio),
             (tio.c_cflag & CSTOPB) != 0 ? 2 : 1);
    std::string s = speed_text(cfgetospeed(&tio)) + " " + frame;
    if (cfgetispeed(&tio) != cfgetospeed(&tio) && cfgetispeed(&tio) != B0)
        s += " (in " + speed_text(cfgetispeed(&tio)) + ")";
    std::string flags;
    if (tio.c_oflag & OPOST) {
        flags += " opost";
        for (const auto &f : OUTPUT)
            if (tio.*f.field & f.bit)
                flags += std::string(" ") + f.name;
    }
    for (const auto &f : OTHERS)
        if (tio.*f.field & f.bit)
            flags += std::string(" ") + f.name;
    return s + (flags.empty() ? " raw" : flags);
}

std::vector<std::string> settings_faults(const termios &tio)
{
    std::vector<std::string> faults;
    if (cfgetospeed(&tio) != B19200)
        faults.push_back("speed " + speed_text(cfgetospeed(&tio)) + ", not 19200");
    if (data_bits(tio) != 8)
        faults.push_back(std::to_string(data_bits(tio)) + " data bits");
    if (parity(tio) != 'N')
        faults.push_back(std::string("parity ") + parity(tio));
    if (tio.c_cflag & CSTOPB)
        faults.push_back("2 stop bits");
    if (tio.c_oflag & OPOST)
        faults.push_back("output processing on");
    if (tio.c_cflag & CRTSCTS)
        faults.push_back("RTS/CTS flow control");
    if (tio.c_iflag & (IXON | IXOFF))
        faults.push_back("XON/XOFF flow control");
    return faults;
}

std::vector<line_report> frame_monitor::feed(std::span<const std::uint8_t> bytes,
                                             const termios &settings, long long now_ms)
{
    std::vector<line_report> out = idle(now_ms);
    for (const std::uint8_t b : bytes) {
        if (pending_.empty()) {
            pending_settings_ = settings;
            pending_time_ = now_ms;
        }
        pending_.push_back(b);
        if (pending_.size() == FRAME_LEN) {
            out.push_back(
                {pending_time_, pending_, pending_settings_, settings_faults(pending_settings_)});
            pending_.clear();
            frames_in_burst_++;
        }
    }
    if (!bytes.empty())
        last_byte_ = now_ms;
    return out;
}

std::vector<line_report> frame_monitor::idle(long long now_ms)
{
    if (last_byte_ < 0 || now_ms - last_byte_ < FRAME_GAP_MS)
        return {};
    return flush();
}

std::vector<line_report> frame_monitor::flush()
{
    std::vector<line_report> out;
    if (!pending_.empty()) {
        line_report r{pending_time_, pending_, pending_settings_,
                      settings_faults(pending_settings_)};
        const std::size_t n = pending_.size();
        r.problems.insert(r.problems.begin(),
                          frames_in_burst_ == 0
                              ? "short frame: " + std::to_string(n) + " of 8 bytes"
                              : std::to_string(n) + (n == 1 ? " byte" : " bytes") + " left over");
        out.push_back(std::move(r));
        pending_.clear();
    }
    last_byte_ = -1;
    frames_in_burst_ = 0;
    return out;
}

int frame_monitor::wait_ms(long long now_ms) const
{
    if (last_byte_ < 0)
        return -1;
    const long long left = last_byte_ + FRAME_GAP_MS - now_ms;
    return left > 0 ? static_cast<int>(left) : 0;
}
