// SPDX-License-Identifier: MIT
#include "libc_termios.h"

#include <termios.h>

namespace
{

struct speed {
    speed_t code;
    long baud;
};
constexpr speed SPEEDS[] = {{B9600, 9600}, {B19200, 19200}, {B115200, 115200}};

} // namespace

int libc_set(int fd, long baud, const std::string &framing)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    for (const speed &s : SPEEDS)
        if (s.baud == baud)
            cfsetspeed(&t, s.code);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= sizes[(framing[0] - '5') & 3] | CREAD | CLOCAL;
    if (framing[1] != 'N')
        t.c_cflag |= PARENB | (framing[1] == 'O' ? PARODD : 0U);
    if (framing[2] == '2')
        t.c_cflag |= CSTOPB;
    return tcsetattr(fd, TCSANOW, &t);
}

std::string libc_get(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return "unreadable";
    long baud = -1;
    for (const speed &s : SPEEDS)
        if (s.code == cfgetospeed(&t))
            baud = s.baud;
    const char size = static_cast<char>('5' + ((t.c_cflag & CSIZE) == CS6)   +
                                        2 * ((t.c_cflag & CSIZE) == CS7) +
                                        3 * ((t.c_cflag & CSIZE) == CS8));
    const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    return std::to_string(baud) + " " + size + parity + ((t.c_cflag & CSTOPB) != 0 ? '2' : '1');
}
