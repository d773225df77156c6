// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "descriptors.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

// A pidfd of a thread rather than of its process (Linux 6.9 and later).
constexpr unsigned PIDFD_OF_THREAD = O_EXCL;
// How many threads are followed at most; beyond, what they name is read each time.
constexpr std::size_t MOST_FOLLOWED = 256;

std::uint64_t key(pid_t tid, long long fd)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(tid)) << 32U |
           static_cast<std::uint32_t>(fd);
}

pid_t tid_of(std::uint64_t k)
{
    return static_cast<pid_t>(k >> 32U);
}

long long fd_of(std::uint64_t k)
{
    return static_cast<long long>(k & 0xffffffffU);
}

} // namespace

descriptors::~descriptors()
{
    forget();
}

descriptors::facts descriptors::read(pid_t tid, long long fd, dev_t line)
{
    const tell names = names_line(tid, fd, line);
    if (names != tell::yes)
        return {names, -1};
    const long flags = fd_flags(tid, static_cast<int>(fd));
    if (flags < 0)
        return {tell::cannot, -1};
    return {(flags & O_PATH) != 0 ? tell::no : tell::yes, flags};
}

descriptors::facts descriptors::of(pid_t tid, long long fd)
{
    if (fd < 0 || fd > INT_MAX)
        return {};
    const auto found = kept_.find(key(tid, fd));
    if (found != kept_.end())
        return found->second;
    const facts f = read(tid, fd, line_);
    if (keep_ && follow(tid))
        kept_.emplace(key(tid, fd), f);
    return f;
}

// A pidfd that says when the thread has ended; false where none can be had.
bool descriptors::follow(pid_t tid)
{
    if (thread_pidfd_.contains(tid))
        return true;
    if (pidfds_.size() >= MOST_FOLLOWED)
        return false;
    long fd = syscall(SYS_pidfd_open, tid, PIDFD_OF_THREAD);
    if (fd < 0) // an older kernel: a process's own pidfd, for its first thread alone
        fd = syscall(SYS_pidfd_open, tid, 0);
    if (fd < 0)
        return false;
    (void)fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    thread_pidfd_.emplace(tid, static_cast<int>(fd));
    pidfds_.push_back({static_cast<int>(fd), POLLIN, 0});
    return true;
}

void descriptors::closed(long long first, long long last)
{
    std::erase_if(kept_, [&](const auto &e) {
        const long long fd = fd_of(e.first);
        return fd >= first && fd <= last;
    });
}

void descriptors::forget()
{
    kept_.clear();
    for (const pollfd &p : pidfds_)
        close(p.fd);
    pidfds_.clear();
    thread_pidfd_.clear();
}

void descriptors::stop()
{
    forget();
    keep_ = false;
}

void descriptors::ended(int pidfd)
{
    const auto t = std::find_if(thread_pidfd_.begin(), thread_pidfd_.end(),
                                [&](const auto &e) { return e.second == pidfd; });
    if (t != thread_pidfd_.end())
        drop(t->first);
}

void descriptors::drop(pid_t tid)
{
    std::erase_if(kept_, [&](const auto &e) { return tid_of(e.first) == tid; });
    const int fd = thread_pidfd_[tid];
    thread_pidfd_.erase(tid);
    std::erase_if(pidfds_, [&](const pollfd &p) { return p.fd == fd; });
    close(fd);
}
