// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Kept apart from <termios.h>: the records are the kernel's own.
#include "serial_line.h"

#include <algorithm>
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

#ifdef TCGETS2
using kernel_termios = termios2;
constexpr unsigned GET = TCGETS2;
constexpr unsigned SET = TCSETS2;
#else
using kernel_termios = termios; // carries the speeds itself
constexpr unsigned GET = TCGETS;
constexpr unsigned SET = TCSETS;
#endif
static_assert(sizeof(kernel_termios) <= 128 && sizeof(serial_struct) <= 128);

// The controller's setting, raw, with every error and break marked: a byte
// ff comes doubled, one with an error or a break after \377 \0.
kernel_termios listening(kernel_termios t)
{
    t.c_iflag = INPCK | PARMRK;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = B19200 | CS8 | CREAD | CLOCAL;
#ifdef TCGETS2
    t.c_ispeed = t.c_ospeed = 19200;
#endif
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

// What a controller at 19200 8N1 takes.
const line_settings RECEIVER{};
const nanos CHAR_NS = RECEIVER.char_ns();

std::string failed(const std::string &what)
{
    return what + ": " + strerror(errno);
}

} // namespace

serial_line::~serial_line()
{
    restore();
    if (fd_ >= 0)
        close(fd_);
}

bool serial_line::open(const std::string &path, std::string &why)
{
    // Only read; without waiting for a carrier.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        why = errno == EBUSY ? "it is held by another program alone (TIOCEXCL)" : strerror(errno);
        return false;
    }
    kernel_termios t{};
    if (!isatty(fd_) || ioctl(fd_, GET, &t) != 0) {
        why = "it is not a terminal";
        return false;
    }
    // Root may open a port another program holds alone: it is theirs all the same.
    int exclusive = 0;
    if (ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        why = "it is held by another program alone (TIOCEXCL)";
        return false;
    }
    memcpy(settings_.data(), &t, sizeof t);
    const kernel_termios mine = listening(t);
    if (ioctl(fd_, SET, &mine) != 0) {
        why = failed("cannot set it to 19200 8N1");
        return false;
    }
    set_ = true;
    serial_struct s{};
    if (ioctl(fd_, TIOCGSERIAL, &s) == 0) {
        memcpy(serial_.data(), &s, sizeof s);
        s.flags |= ASYNC_LOW_LATENCY;
        low_latency_ = ioctl(fd_, TIOCSSERIAL, &s) == 0;
    }
    (void)lost(); // what the driver had counted before
    return true;
}

void serial_line::restore()
{
    if (fd_ < 0)
        return;
    if (low_latency_)
        (void)ioctl(fd_, TIOCSSERIAL, serial_.data());
    if (set_)
        (void)ioctl(fd_, SET, settings_.data());
    low_latency_ = set_ = false;
}

bool serial_line::read(nanos now, std::vector<sent_byte> &out)
{
    unsigned char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            place(marks_.take({buf, static_cast<std::size_t>(n)}), now, out);
            continue;
        }
        // A port that went away (an adapter unplugged, a hang-up) reads
        // nothing more: EIO, ENODEV, or the end of the file.
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

void serial_line::place(const std::vector<received_char> &chars, nanos now,
                        std::vector<sent_byte> &out)
{
    nanos end = now - static_cast<nanos>(chars.size()) * CHAR_NS;
    for (const received_char &c : chars) {
        end += CHAR_NS;
        const nanos start = std::max(end - CHAR_NS, last_end_);
        last_end_ = start + CHAR_NS;
        out.push_back({c.value, start, last_end_, RECEIVER, c.is_break, c.error});
    }
}

std::size_t serial_line::lost()
{
    serial_icounter_struct c{};
    if (ioctl(fd_, TIOCGICOUNT, &c) != 0)
        return 0;
    const long now = static_cast<long>(c.overrun) + c.buf_overrun;
    const long before = counted_lost_ < 0 ? now : counted_lost_;
    counted_lost_ = now;
    return static_cast<std::size_t>(std::max(0L, now - before));
}
