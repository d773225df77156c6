// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Kept apart from <termios.h>: the ioctl numbers and the layouts read from
// the programs come from the kernel's own terminal headers.
#include "tty_abi.h"

#include <algorithm>
#include <array>
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstring>
#include <iterator>
#include <sys/ioctl.h>
#include <type_traits>

static_assert(sizeof(termios) <= LARGEST_RECORD && sizeof(termio) <= LARGEST_RECORD);
static_assert(TCOFLUSH == TTY_OUTPUT_QUEUE && TCIOFLUSH == TTY_BOTH_QUEUES);
static_assert(TIOCSER_TEMT == TTY_TRANSMITTER_EMPTY);
static_assert(TCOOFF == TTY_OOFF && TCOON == TTY_OON && TCIOFF == TTY_IOFF && TCION == TTY_ION);

namespace
{

constexpr tty_request REQUESTS[] = {
    {TCSETS, tty_op::set_termios, false},   {TCSETSW, tty_op::set_termios, true},
    {TCSETSF, tty_op::set_termios, true},
#ifdef TCSETS2
    {TCSETS2, tty_op::set_termios2, false}, {TCSETSW2, tty_op::set_termios2, true},
    {TCSETSF2, tty_op::set_termios2, true},
#endif
    {TCSETA, tty_op::set_termio, false},    {TCSETAW, tty_op::set_termio, true},
    {TCSETAF, tty_op::set_termio, true},    {TCSBRK, tty_op::drain, false},
    {TCSBRKP, tty_op::brk, false},          {TIOCSBRK, tty_op::break_on, false},
    {TIOCCBRK, tty_op::break_off, false},   {TCFLSH, tty_op::flush, false},
    {TCXONC, tty_op::flow, false},          {TIOCOUTQ, tty_op::outq, false},
    {TCGETS, tty_op::get_termios, false},   {TCGETA, tty_op::get_termio, false},
#ifdef TCGETS2
    {TCGETS2, tty_op::get_termios2, false},
#endif
};

// The serial driver's own requests: the modem-control lines, the interrupt
// counters, the line status and the port's setup; and FIONBIO, which changes
// what the watch knows of a descriptor, whatever the file.
constexpr tty_request DRIVER_REQUESTS[] = {
    {TIOCMGET, tty_op::modem_get, false},     {TIOCMBIS, tty_op::modem_bis, false},
    {TIOCMBIC, tty_op::modem_bic, false},     {TIOCMSET, tty_op::modem_set, false},
    {TIOCMIWAIT, tty_op::modem_wait, false},  {TIOCGICOUNT, tty_op::get_icount, false},
    {TIOCSERGETLSR, tty_op::get_lsr, false},  {TIOCGSERIAL, tty_op::get_serial, false},
    {TIOCSSERIAL, tty_op::set_serial, false}, {FIONBIO, tty_op::nonblocking, false},
};

template <std::size_t A, std::size_t B>
constexpr std::array<tty_request, A + B> joined(const tty_request (&a)[A],
                                                const tty_request (&b)[B])
{
    std::array<tty_request, A + B> all{};
    std::copy(std::begin(a), std::end(a), all.begin());
    std::copy(std::begin(b), std::end(b), all.begin() + A);
    return all;
}

constexpr auto ALL_REQUESTS = joined(REQUESTS, DRIVER_REQUESTS);

// The bits of c_cflag that a pseudo-terminal sets its own way.
constexpr unsigned FORCED_BY_A_PTY = CSIZE | PARENB | CREAD;

struct speed_code {
    unsigned code;
    long baud; // cppcheck-suppress unusedStructMember ; read through find_if
};

constexpr speed_code SPEEDS[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

// The speed a code stands for; other is the speed given apart (BOTHER).
long speed_of(unsigned code, long other)
{
    if (code == BOTHER)
        return other;
    const auto *s = std::find_if(std::begin(SPEEDS), std::end(SPEEDS),
                                 [code](const speed_code &c) { return c.code == code; });
    return s != std::end(SPEEDS) ? s->baud : -1;
}

// What a settings request asks for, whatever record it came in.
struct settings_request {
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;
    long ispeed = -1; // given apart from the flags; -1: not given, the line's own stay
    long ospeed = -1;
    std::span<const cc_t> cc; // the control characters; empty: the line's own stay
};

line_settings settings_of(const settings_request &r, const line_settings &current)
{
    line_settings s;
    s.iflag = r.iflag;
    s.oflag = r.oflag;
    s.cflag = r.cflag;
    s.lflag = r.lflag;
    s.baud = speed_of(r.cflag & CBAUD, r.ospeed >= 0 ? r.ospeed : current.baud);
    const unsigned in = (r.cflag & CIBAUD) >> IBSHIFT;
    s.in_baud = in == 0 ? 0 : speed_of(in, r.ispeed >= 0 ? r.ispeed : current.in_baud);
    switch (r.cflag & CSIZE) {
    case CS5:
        s.data_bits = 5;
        break;
    case CS6:
        s.data_bits = 6;
        break;
    case CS7:
        s.data_bits = 7;
        break;
    default:
        s.data_bits = 8;
    }
    if ((r.cflag & PARENB) == 0)
        s.parity = 'N';
    else if (r.cflag & CMSPAR)
        s.parity = (r.cflag & PARODD) != 0 ? 'M' : 'S';
    else
        s.parity = (r.cflag & PARODD) != 0 ? 'O' : 'E';
    s.stop_bits = (r.cflag & CSTOPB) != 0 ? 2 : 1;
    const auto cc = [&](std::size_t at, std::uint8_t kept) {
        return at < r.cc.size() ? static_cast<std::uint8_t>(r.cc[at]) : kept;
    };
    s.stop_char = cc(VSTOP, current.stop_char);
    s.start_char = cc(VSTART, current.start_char);
    return s;
}

#ifdef TCSETS2
using kernel_termios = termios2;
constexpr unsigned GET = TCGETS2;
#else
using kernel_termios = termios; // carries the speeds itself
constexpr unsigned GET = TCGETS;
#endif

static_assert(sizeof(kernel_termios) <= LARGEST_RECORD);

settings_request request_of(const kernel_termios &t)
{
    return {t.c_iflag,
            t.c_oflag,
            t.c_cflag,
            t.c_lflag,
            static_cast<long>(t.c_ispeed),
            static_cast<long>(t.c_ospeed),
            {t.c_cc, std::size(t.c_cc)}};
}

} // namespace

const std::span<const tty_request> TTY_REQUESTS = ALL_REQUESTS;

const tty_request *find_request(unsigned number)
{
    const tty_request *end = ALL_REQUESTS.data() + ALL_REQUESTS.size();
    const tty_request *r = std::find_if(ALL_REQUESTS.data(), end,
                                        [&](const tty_request &q) { return q.number == number; });
    return r != end ? r : nullptr;
}

std::size_t record_size(tty_op op)
{
    switch (op) {
    case tty_op::set_termios:
        return sizeof(termios);
    case tty_op::set_termios2:
        return sizeof(kernel_termios);
    case tty_op::set_termio:
        return sizeof(termio);
    default:
        return 0;
    }
}

line_settings settings_from(tty_op op, const void *record, const line_settings &current)
{
    switch (op) {
    case tty_op::set_termio: {
        termio t{};
        memcpy(&t, record, sizeof t);
        // Only the low 16 bits of each flag word are replaced.
        const auto merge = [](unsigned now, unsigned short asked) {
            return (now & 0xffff0000U) | asked;
        };
        return settings_of({merge(current.iflag, t.c_iflag),
                            merge(current.oflag, t.c_oflag),
                            merge(current.cflag, t.c_cflag),
                            merge(current.lflag, t.c_lflag),
                            -1,
                            -1,
                            {t.c_cc, std::size(t.c_cc)}},
                           current);
    }
    case tty_op::set_termios: {
        termios t{};
        memcpy(&t, record, sizeof t);
#ifdef TCSETS2
        return settings_of(
            {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, -1, -1, {t.c_cc, std::size(t.c_cc)}},
            current);
#else
        return settings_of(request_of(t), current);
#endif
    }
    default: {
        kernel_termios t{};
        memcpy(&t, record, sizeof t);
        return settings_of(request_of(t), current);
    }
    }
}

std::size_t report_settings(int fd, unsigned number, const line_settings &asked,
                            unsigned char *record)
{
    const auto patch = [&](auto &t) {
        if (ioctl(fd, number, &t) != 0)
            return std::size_t{0};
        using flag = std::remove_reference_t<decltype(t.c_cflag)>;
        t.c_cflag =
            static_cast<flag>((t.c_cflag & ~FORCED_BY_A_PTY) | (asked.cflag & FORCED_BY_A_PTY));
        memcpy(record, &t, sizeof t);
        return sizeof t;
    };
    const tty_request *r = find_request(number);
    if (r == nullptr || !is_get(r->op))
        return 0;
    if (r->op == tty_op::get_termio) {
        termio t{};
        return patch(t);
    }
    if (r->op == tty_op::get_termios) {
        termios t{};
        return patch(t);
    }
    kernel_termios t{};
    return patch(t);
}

tty_record read_record(int fd)
{
    kernel_termios t{};
    tty_record r;
    if (ioctl(fd, GET, &t) == 0)
        memcpy(r.bytes.data(), &t, sizeof t);
    return r;
}

line_settings read_settings(int fd)
{
    kernel_termios t{};
    if (ioctl(fd, GET, &t) != 0)
        return {};
    return settings_of(request_of(t), line_settings{});
}
