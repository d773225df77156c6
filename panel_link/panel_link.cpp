// SPDX-License-Identifier: MIT
#include "panel_link.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <span>
#include <termios.h>
#include <unistd.h>

namespace
{

// Reports the failure in errno after what standard output holds, so that
// one stream taking both shows the texts in the order they were written.
void report(const char *what)
{
    const int err = errno;
    (void)fflush(stdout);
    errno = err;
    perror(what);
}

// Reports the failure in errno, closes the port and ends the run. What the
// port still holds is discarded first: on a serial driver the last close
// waits up to the port's closing wait (30 s by default) for it to leave, and
// when the line moved again a torn frame would go out. The report comes
// before the close, which may still wait.
[[noreturn]] void fail(int fd, const char *what)
{
    const int err = errno;
    (void)tcflush(fd, TCOFLUSH);
    errno = err;
    report(what);
    (void)close(fd);
    exit(1);
}

// Opens the port on a descriptor above the standard ones. Where standard
// input, output or error was closed, the open would take its place, and the
// texts meant for it would go down the line ahead of the frame. The port
// never becomes the controlling terminal: a run that leads a session without
// one (a service, setsid, cron) would otherwise take it, and at its exit the
// kernel would hang the port up under whoever else holds it open.
[[nodiscard]] int open_port()
{
    const int fd = open(PANEL_DEVICE, O_RDWR | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int high = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
    const int err = errno;
    (void)close(fd);
    errno = err;
    return high;
}

[[nodiscard]] long long now_ms()
{
    timespec ts{};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Writes every byte or fails with errno set. Short writes and EINTR are
// retried at once; while the port is busy (EAGAIN) we wait for it to become
// writable, for at most timeout_ms in all, then give up with ETIMEDOUT.
[[nodiscard]] bool write_all(int fd, std::span<const std::uint8_t> bytes, int timeout_ms)
{
    const long long deadline = now_ms() + timeout_ms;
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const long long left = deadline - now_ms();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

int panel_open()
{
    // Built from zero, never read from the port: nothing an earlier user set
    // survives. VMIN and VTIME are set although nothing is read.
    termios tio{};
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_cflag = CLOCAL | CREAD | CS8;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;

    // Non-blocking, so the open does not wait for modem-control lines.
    const int fd = open_port();
    if (fd < 0) {
        report("file open error\n");
        exit(1);
    }
    // A frame sent under unknown line settings is garbage to the controller.
    if (cfsetospeed(&tio, B19200) != 0 || cfsetispeed(&tio, B19200) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0)
        fail(fd, "port setup error");
    return fd;
}

void panel_send(int fd, const panel_frame &frame)
{
    if (!write_all(fd, frame, PANEL_SEND_TIMEOUT_MS))
        fail(fd, "frame write error");
}

int panel_close(int fd)
{
    return close(fd);
}
