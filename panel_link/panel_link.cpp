// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "panel_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// The longest one wait for the port lasts before its progress is looked at.
constexpr int POLL_SLICE_MS = 250;

// Reports the failure in errno after what standard output holds, so that
// one stream taking both shows the texts in the order they were written.
void report(const char *what)
{
    const int err = errno;
    (void)fflush(stdout);
    errno = err;
    perror(what);
}

// Reports the failure in errno, closes the port and ends the run. Nothing is
// discarded: whatever the port holds is other programs' output, which leaves
// when the line moves. The report comes before the close, which on a serial
// driver may wait up to the port's closing wait (30 s by default) for it.
[[noreturn]] void fail(int fd, const char *what)
{
    report(what);
    (void)close(fd);
    exit(1);
}

// Ends the run after the port took only a share of the frame. That share
// would go out torn when the line moves and put the controller out of step
// for every later frame, so the port's output is discarded, other programs'
// queued bytes with it, as the lesser harm; the report says so.
[[noreturn]] void fail_torn(int fd, std::size_t taken)
{
    (void)tcflush(fd, TCOFLUSH);
    (void)fflush(stdout);
    (void)fprintf(stderr,
                  "frame write error: %zu of %zu bytes taken; the port's output was discarded\n",
                  taken, PANEL_FRAME_LEN);
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

// What the port holds queued for sending; -1 where it does not say. A
// pseudo-terminal always says 0.
[[nodiscard]] int queued(int fd)
{
    int n = 0;
    return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

// Waits up to slice_ms for the port to report room for output, then offers it
// the whole frame in one write: the kernel keeps one write's bytes together,
// while between two writes another program's bytes could get in. Returns the
// bytes taken, 0 when the port took none and may still (busy, interrupted, or
// another writer got in first), -1 on an error with errno set.
[[nodiscard]] ssize_t offer(int fd, const panel_frame &frame, int slice_ms)
{
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = poll(&pfd, 1, slice_ms);
    if (ready <= 0)
        return ready < 0 && errno != EINTR ? -1 : 0;
    const ssize_t n = write(fd, frame.data(), frame.size());
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return n;
}

// Hands the frame over whole, waiting while the port makes progress: any
// change in what it holds queued (it sent, or took bytes) restarts the
// stall_ms bound. Returns the bytes taken (all, or a share when another
// writer filled the port between poll and write), or -1 with errno set,
// ETIMEDOUT when the port stood still for stall_ms.
[[nodiscard]] ssize_t send_whole(int fd, const panel_frame &frame, int stall_ms)
{
    int last_queued = queued(fd);
    long long last_progress = now_ms();
    for (;;) {
        const long long left = last_progress + stall_ms - now_ms();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t n =
            offer(fd, frame, static_cast<int>(std::min<long long>(left, POLL_SLICE_MS)));
        if (n != 0)
            return n;
        if (const int q = queued(fd); q != last_queued) {
            last_queued = q;
            last_progress = now_ms();
        }
    }
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
    const ssize_t n = send_whole(fd, frame, PANEL_SEND_TIMEOUT_MS);
    if (n < 0)
        fail(fd, "frame write error");
    if (static_cast<std::size_t>(n) < frame.size())
        fail_torn(fd, static_cast<std::size_t>(n));
}

int panel_close(int fd)
{
    return close(fd);
}
