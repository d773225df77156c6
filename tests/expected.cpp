// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "expected.h"

#include <cstdio>

namespace
{

// The speed bits within c_cflag; not every architecture has input speed bits.
#ifdef CIBAUD
constexpr tcflag_t SPEED_BITS = CBAUD | CIBAUD;
#else
constexpr tcflag_t SPEED_BITS = CBAUD;
#endif

} // namespace

std::string frame_line(std::span<const std::uint8_t> frame)
{
    std::string s = "command data = ";
    for (const auto b : frame) {
        char buf[16];
        snprintf(buf, sizeof buf, "0x%x : ", b);
        s += buf;
    }
    return s + "\n";
}

std::string raw_19200_faults(const termios &t)
{
    std::string faults;
    const auto note = [&](const char *what, unsigned long got) {
        char buf[96];
        snprintf(buf, sizeof buf, "%s%s %#lo", faults.empty() ? "" : "; ", what, got);
        faults += buf;
    };
    if (cfgetospeed(&t) != B19200 || cfgetispeed(&t) != B19200)
        note("speed", static_cast<unsigned long>(cfgetospeed(&t)));
    const tcflag_t cflag = t.c_cflag & ~SPEED_BITS;
    if (cflag != static_cast<tcflag_t>(CS8 | CREAD | CLOCAL))
        note("c_cflag", cflag);
    if (t.c_iflag != 0)
        note("c_iflag", t.c_iflag);
    if (t.c_oflag != 0)
        note("c_oflag", t.c_oflag);
    if (t.c_lflag != 0)
        note("c_lflag", t.c_lflag);
    for (std::size_t i = 0; i < NCCS; i++) {
        const int want = i == VMIN ? 1 : i == VTIME ? 5 : 0;
        if (t.c_cc[i] != want) {
            char what[16];
            snprintf(what, sizeof what, "c_cc[%zu]", i);
            note(what, t.c_cc[i]);
        }
    }
    return faults;
}

termios spoiled_settings()
{
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | INPCK | ISTRIP;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CREAD | HUPCL | CRTSCTS;
    t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    t.c_cc[VINTR] = 3;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetospeed(&t, B9600);
    cfsetispeed(&t, B9600);
    return t;
}
