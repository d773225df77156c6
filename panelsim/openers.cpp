// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "openers.h"

#include "procs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// What was told since the last look: how many opens, and whether anyone
// wrote through the kernel. Where the kernel's queue ran over, some were
// lost: at least one more open than it holds.
struct told {
    std::size_t opens = 0;
    bool written = false;
    bool any = false;
};

told events(int fd)
{
    told t;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        for (const char *p = buf; p < buf + n;) {
            inotify_event e{};
            std::copy(p, p + sizeof e, reinterpret_cast<char *>(&e));
            t.opens += (e.mask & (IN_OPEN | IN_Q_OVERFLOW)) != 0 ? 1 : 0;
            t.written = t.written || (e.mask & IN_MODIFY) != 0;
            t.any = true;
            p += sizeof e + e.len;
        }
    return t;
}

// The master side hangs up while no file of the line is open.
bool hung_up(int master)
{
    pollfd p{master, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

} // namespace

openers::~openers()
{
    let_go();
}

void openers::let_go()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

namespace
{

// The keeper: holds the instance until the panel has ended (the pipe's
// other end, which only the panel keeps, closes), then ends too.
[[noreturn]] void keep(int inotify, int until)
{
    const auto [low, high] = std::minmax(inotify, until);
    const auto close_from_to = [](int first, int last) {
        if (first <= last)
            (void)syscall(SYS_close_range, first, last, 0);
    };
    close_from_to(0, low - 1);
    close_from_to(low + 1, high - 1);
    close_from_to(high + 1, INT_MAX);
    char c;
    while (::read(until, &c, 1) != 0 && errno == EINTR) {
    }
    _exit(0);
}

} // namespace

int kept_inotify()
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int until[2];
    // The first process of a pid namespace would have the keeper back as a
    // child of its own: it closes the instance itself, and waits.
    if (fd < 0 || getpid() == 1 || pipe2(until, O_CLOEXEC) != 0)
        return fd;
    // Twice forked, so that the keeper is no child of the panel's to wait for.
    const pid_t first = fork();
    if (first == 0) {
        close(until[1]);
        if (fork() == 0)
            keep(fd, until[0]);
        _exit(0);
    }
    close(until[0]);
    if (first > 0)
        (void)waitpid(first, nullptr, 0);
    return fd;
}

bool openers::watch(int inotify, const std::string &path, int master)
{
    master_ = master;
    fd_ = inotify;
    // Releases only wake the panel to look again: the master side tells
    // whether the line is still open.
    if (fd_ < 0 || inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE | IN_MODIFY) < 0)
        return false;
    // Whether an O_PATH open of the line is told, as it was before Linux 6.5.
    const int probe = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (probe >= 0)
        close(probe);
    counts_paths_ = events(fd_).opens > 0;
    open_ = !hung_up(master_);
    return true;
}

void openers::opening(pid_t tid)
{
    let_go_ = false;
    announced_++;
    opening_.push_back(tid);
}

void openers::closing_last(pid_t tid, long nr)
{
    let_go_ = true;
    closing_.push_back({tid, nr});
}

// A close is done once its thread has ended, or is in another call: the
// release of a file it closed happens before it goes back to its program.
// A thread that runs may still be releasing it.
bool openers::done(const closer &c)
{
    if (has_ended(c.tid))
        return true;
    const long now = current_call(c.tid);
    return now >= 0 && now != c.nr;
}

bool openers::finished(pid_t tid)
{
    const auto is = [&](pid_t t) { return t == tid; };
    const auto closed = [&](const closer &c) { return c.tid == tid; };
    if (std::none_of(opening_.begin(), opening_.end(), is) &&
        std::none_of(closing_.begin(), closing_.end(), closed))
        return false;
    // Its open was told by now, or failed; its last close let the line go, or not.
    look(unread_);
    std::erase_if(opening_, is);
    if (opening_.empty())
        announced_ = told_ = 0;
    return std::erase_if(closing_, closed) > 0;
}

void openers::held_outside()
{
    outsider_holds_ = true;
    unread_.outsider = true;
}

line_news openers::read()
{
    line_news news = unread_;
    unread_ = {};
    if (fd_ < 0)
        return news;
    // Threads that had ended before the line was looked at had had their
    // opens told; closes that were done had let the line go if they were to.
    std::vector<pid_t> ended;
    std::copy_if(opening_.begin(), opening_.end(), std::back_inserter(ended), has_ended);
    std::vector<closer> closed;
    std::copy_if(closing_.begin(), closing_.end(), std::back_inserter(closed), done);
    look(news);
    for (const pid_t tid : ended)
        std::erase(opening_, tid);
    for (const closer &c : closed)
        news.left_open =
            std::erase_if(closing_, [&](const closer &d) { return d.tid == c.tid; }) > 0 ||
            news.left_open;
    if (opening_.empty())
        announced_ = told_ = 0;
    return news;
}

// Takes the opens told and whether the line is open now.
void openers::look(line_news &news)
{
    const told t = events(fd_);
    news.stirred = news.stirred || t.any;
    told_ += t.opens;
    const bool now = !hung_up(master_);
    // A write the panel did not take, while no watched program holds the
    // line, is someone else's.
    if (told_ > announced_ || (t.written && let_go_)) {
        news.outsider = true;
        outsider_holds_ = true;
        told_ = announced_;
    }
    if (!now) {
        // Nobody has the line open: nobody unwatched holds it any more.
        if ((open_ || t.opens > 0) && closing_.empty())
            news.unseen_last_close = true;
        outsider_holds_ = false;
        closing_.clear();
    }
    open_ = now;
}
