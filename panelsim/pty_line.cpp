// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "pty_line.h"

#include "clock.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Where the symbolic link at path points; empty if it is none.
std::string link_target(const std::string &path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Whether the link at path was left by a line that has ended. A line's
// pseudo-terminal lives only while its master side is open, and the kernel
// takes its /dev/pts entry away when that closes: a panel's link outlives it
// only leading nowhere, or to the pseudo-terminal we have just been given in
// its place. A link into /dev/pts that leads to a pseudo-terminal of anyone
// else's may be that program's live line.
bool left_by_ended_line(const std::string &path, const std::string &ours)
{
    const std::string dir = "/dev/pts/";
    const std::string target = link_target(path);
    if (target.size() <= dir.size() || target.compare(0, dir.size(), dir) != 0 ||
        target.find_first_not_of("0123456789", dir.size()) != std::string::npos)
        return false;
    struct stat st {
    };
    return target == ours || (lstat(target.c_str(), &st) != 0 && errno == ENOENT);
}

} // namespace

pty_line::~pty_line()
{
    unlink();
    if (slave_ >= 0)
        (void)close(slave_);
    if (master_ >= 0)
        (void)close(master_);
}

bool pty_line::open()
{
    char name[PATH_MAX];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return false;
    slave_path_ = name;
    (void)fcntl(master_, F_SETFD, FD_CLOEXEC);
    (void)fcntl(slave_, F_SETFD, FD_CLOEXEC);
    (void)fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool pty_line::link(const std::string &path)
{
    if (held_ != path) {
        unlink();
        held_.clear();
        if (!lock_.take(path))
            return false;
        held_ = path;
    }
    // No live line holds the path; what is there goes only if a line that
    // has ended left it. Anything else makes symlink fail with EEXIST.
    const std::string &at = lock_.path();
    if (left_by_ended_line(at, slave_path_))
        (void)::unlink(at.c_str());
    if (symlink(slave_path_.c_str(), at.c_str()) != 0)
        return false;
    link_ = at;
    return true;
}

void pty_line::unlink()
{
    // Only our own link: another line may have taken the path over since.
    if (!link_.empty() && link_target(link_) == slave_path_)
        (void)::unlink(link_.c_str());
    link_.clear();
}

termios pty_line::settings() const
{
    termios tio{};
    (void)tcgetattr(master_, &tio);
    return tio;
}

// Not const: it changes the line, though only through the descriptor.
bool pty_line::configure(const termios &tio) // NOLINT(readability-make-member-function-const)
{
    return tcsetattr(slave_, TCSANOW, &tio) == 0;
}

// Through the master side, which sets the slave side's terminal. Not
// const: it changes the line, though only through the descriptor.
// NOLINTNEXTLINE(readability-make-member-function-const)
int pty_line::request(unsigned long number, void *record)
{
    return ioctl(master_, number, record) == 0 ? 0 : errno;
}

void pty_line::let_go()
{
    if (slave_ >= 0)
        (void)close(slave_);
    slave_ = -1;
}

ssize_t pty_line::read(std::span<std::uint8_t> buf, int timeout_ms)
{
    // The master side does not block: with no time to wait, no poll is needed.
    pollfd pfd{master_, POLLIN, 0};
    const int r = timeout_ms == 0 ? 1 : poll(&pfd, 1, timeout_ms);
    if (r <= 0)
        return r == 0 || errno == EINTR ? 0 : -1;
    const ssize_t n = ::read(master_, buf.data(), buf.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return n;
}

std::vector<std::uint8_t> pty_line::drain(int quiet_ms, int limit_ms)
{
    std::vector<std::uint8_t> got;
    std::uint8_t buf[4096];
    const nanos end = clock_ns(CLOCK_MONOTONIC) + limit_ms * NS_PER_MS;
    while (clock_ns(CLOCK_MONOTONIC) < end) {
        const ssize_t n = read(buf, quiet_ms);
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}
