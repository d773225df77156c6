// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "watch.h"

#include "procs.h"
#include "tty_abi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

constexpr unsigned CLOSE_RANGE_CLOEXEC_ONLY = 1U << 2;

// The most a single read or write moves (MAX_RW_COUNT): the rest of a
// longer one is left for the next call.
std::size_t most_per_call()
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return static_cast<std::size_t>(INT_MAX) & ~(page - 1);
}

// The buffers of a writev, as the kernel takes them: false where it
// refuses the call (a count above IOV_MAX or a length below 0: EINVAL; an
// array or a buffer out of reach: EFAULT) or has nothing to send (it then
// returns 0 without the terminal). The total is cut to most_per_call().
bool read_io_vectors(pid_t pid, const call_abi &abi, const std::uint64_t *args,
                     std::vector<segment> &data)
{
    const auto count = static_cast<std::uint32_t>(args[2]); // an unsigned int
    if (count == 0 || count > IOV_LIMIT)
        return false;
    std::vector<unsigned char> iov(std::size_t{count} * 2 * abi.pointer_bytes);
    if (read_memory(pid, args[1], iov.data(), iov.size()) != 0)
        return false;
    data = io_vectors(iov, abi, most_per_call());
    return std::any_of(data.begin(), data.end(), [](const segment &s) { return s.size > 0; });
}

std::string cannot_read(pid_t pid, const char *what, int err)
{
    return std::string("cannot read ") + what + " that process " + std::to_string(pid) +
           " asked for (" + strerror(err) + ")";
}

} // namespace

line_watch::~line_watch()
{
    stop();
}

void line_watch::stop()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool line_watch::valid(const line_call &call) const
{
    std::uint64_t id = call.id;
    return fd_ >= 0 && ioctl(fd_, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
}

void line_watch::go_on(const line_call &call) const
{
    seccomp_notif_resp resp{};
    resp.id = call.id;
    resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}

void line_watch::answer(const line_call &call, long long value, int err) const
{
    seccomp_notif_resp resp{};
    resp.id = call.id;
    resp.val = err != 0 ? 0 : value;
    resp.error = err != 0 ? -err : 0;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}

bool line_watch::receive(line_call &call, const line_settings &current, bool opens)
{
    seccomp_notif req{};
    if (ioctl(fd_, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
        return errno == EINTR || errno == ENOENT;
    call = line_call{};
    call.id = req.id;
    call.pid = static_cast<pid_t>(req.pid);
    // A thread that makes a call has finished the one before it.
    std::erase_if(closing_, [&](const closing_fd &c) { return c.tid == call.pid; });

    if (!known_abi(req.data.arch)) {
        call.kind = line_call::blind;
        char why[96];
        snprintf(why, sizeof why, "a program of another ABI (audit arch %#x) runs", req.data.arch);
        call.why = why;
        return true;
    }
    const auto abi = classify(req.data.arch, req.data.nr);
    if (!abi)
        return true;
    std::uint64_t args[6];
    std::copy(std::begin(req.data.args), std::end(req.data.args), args);
    switch (abi->call) {
    case watched_call::ioctl:
        ioctl_call(call, args, current);
        break;
    case watched_call::write:
    case watched_call::writev:
        write_call(call, *abi, args);
        break;
    case watched_call::open:
    case watched_call::openat:
    case watched_call::openat2:
    case watched_call::creat:
        open_call(call, *abi, args, opens);
        break;
    case watched_call::poll:
    case watched_call::ppoll:
    case watched_call::select:
    case watched_call::pselect6:
        call.kind = line_call::poll;
        call.wait.form = abi->call;
        std::copy(args, args + 6, call.wait.args);
        call.wait.abi = *abi;
        break;
    default:
        close_call(call, *abi, args);
    }
    // What was read belongs to a call that is still waiting, or to none.
    if (call.kind != line_call::other && !valid(call))
        call.kind = line_call::gone;
    return true;
}

void line_watch::ioctl_call(line_call &call, const std::uint64_t *args,
                            const line_settings &current) const
{
    const tty_request *r = find_request(static_cast<unsigned>(args[1]));
    if (r == nullptr)
        return;
    const tell on_line = is_line(call.pid, static_cast<long long>(args[0]), line_);
    if (on_line == tell::no)
        return;
    if (is_get(r->op)) {
        // Another file's settings are the kernel's to give.
        if (on_line == tell::yes) {
            call.kind = line_call::get;
            call.arg = r->number;
            call.addr = args[2];
        }
        return;
    }
    const bool sets = record_size(r->op) > 0;
    if (on_line == tell::cannot) {
        // Perhaps the line: a drain is waited for, a change not seen.
        if (r->op == tty_op::drain || r->drain_first)
            call.kind = line_call::drain;
        if (sets) {
            call.kind = line_call::set;
            call.drain_first = r->drain_first;
            call.settings = current;
            call.settings.known = false;
            call.why = "cannot see which file process " + std::to_string(call.pid) +
                       " set the settings of (" + strerror(EACCES) + ")";
        }
        return;
    }
    const long arg = static_cast<long>(args[2]);
    switch (r->op) {
    case tty_op::drain: // tcdrain; with 0, tcsendbreak
        call.kind = arg != 0 ? line_call::drain : line_call::brk;
        call.arg = 250;
        return;
    case tty_op::brk: // given in tenths of a second
        call.kind = line_call::brk;
        // As the kernel reckons it: in milliseconds, an unsigned int, so
        // that a negative length is a very long break, not a refusal.
        call.arg =
            args[2] != 0 ? static_cast<long long>(static_cast<unsigned>(args[2] * 100)) : 250;
        return;
    case tty_op::break_on:
        call.kind = line_call::break_on;
        return;
    case tty_op::break_off:
        call.kind = line_call::break_off;
        return;
    case tty_op::flush:
        if (arg == TTY_OUTPUT_QUEUE || arg == TTY_BOTH_QUEUES)
            call.kind = line_call::flush_output;
        return;
    case tty_op::flow:
        call.kind = line_call::flow;
        call.arg = arg;
        return;
    case tty_op::outq:
        call.kind = line_call::outq;
        call.addr = args[2];
        return;
    default:
        break;
    }
    unsigned char record[128] = {};
    const int err = read_memory(call.pid, args[2], record, record_size(r->op));
    // A request at a bad address fails in the kernel too: nothing changes.
    if (err == EFAULT)
        return;
    call.kind = line_call::set;
    call.drain_first = r->drain_first;
    if (err == 0) {
        call.settings = settings_from(r->op, record, current);
        return;
    }
    call.settings = current;
    call.settings.known = false;
    call.why = cannot_read(call.pid, "the settings", err);
}

void line_watch::write_call(line_call &call, const call_abi &abi, const std::uint64_t *args) const
{
    const int desc = static_cast<int>(args[0]);
    if (is_line(call.pid, desc, line_) != tell::yes)
        return;
    // A descriptor not open for writing (EBADF) and a call whose count or
    // addresses the kernel refuses are left to the kernel: it sends nothing.
    const long flags = fd_flags(call.pid, desc);
    if (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY)
        return;
    std::vector<segment> data;
    if (abi.call == watched_call::write) {
        const std::uint64_t size = args[2];
        if (!user_range(args[1], size, abi))
            return;
        data.push_back(
            {args[1], static_cast<std::size_t>(std::min<std::uint64_t>(size, most_per_call()))});
    } else if (!read_io_vectors(call.pid, abi, args, data)) {
        return;
    }
    call.data = std::move(data);
    call.kind = line_call::write;
    call.nonblocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
}

void line_watch::open_call(line_call &call, const call_abi &abi, const std::uint64_t *args,
                           bool opens) const
{
    if (!opens)
        return;
    const bool at = abi.call == watched_call::openat || abi.call == watched_call::openat2;
    const auto path = read_string(call.pid, args[at ? 1 : 0], PATH_MAX);
    const int dirfd = at ? static_cast<int>(args[0]) : AT_FDCWD;
    if (path && device_at(call.pid, dirfd, *path) == line_)
        call.kind = line_call::open;
}

void line_watch::close_call(line_call &call, const call_abi &abi, const std::uint64_t *args)
{
    // Which descriptors the call closes.
    std::vector<int> closing;
    const std::vector<int> open = abi.call == watched_call::close ||
                                          abi.call == watched_call::dup2 ||
                                          abi.call == watched_call::dup3
                                      ? std::vector<int>{}
                                      : open_fds(call.pid);
    switch (abi.call) {
    case watched_call::close:
        closing.push_back(static_cast<int>(args[0]));
        break;
    case watched_call::dup2:
    case watched_call::dup3:
        if (args[0] != args[1])
            closing.push_back(static_cast<int>(args[1]));
        break;
    case watched_call::close_range:
        if ((args[2] & CLOSE_RANGE_CLOEXEC_ONLY) == 0)
            std::copy_if(open.begin(), open.end(), std::back_inserter(closing), [&](int d) {
                return static_cast<std::uint64_t>(d) >= args[0] &&
                       static_cast<std::uint64_t>(d) <= (args[1] & 0xffffffffU);
            });
        break;
    case watched_call::exit_group:
        closing = open;
        break;
    default: // an exec closes what is marked close-on-exec
        std::copy_if(open.begin(), open.end(), std::back_inserter(closing), [&](int d) {
            const long flags = fd_flags(call.pid, d);
            return flags >= 0 && (flags & O_CLOEXEC) != 0;
        });
    }
    // A descriptor that may not be looked into may be the line.
    std::erase_if(closing, [&](int d) { return is_line(call.pid, d, line_) == tell::no; });
    if (!closing.empty() && last(call.pid, closing))
        call.kind = line_call::last_close;
}

// Whether closing these descriptors of the thread tid leaves nobody holding
// the line. Closes let go earlier may not have run yet: their descriptors
// count as closed. Exactly one of several closes made at the same moment is
// the last.
bool line_watch::last(pid_t tid, const std::vector<int> &closing)
{
    const pid_t pid = thread_group(tid);
    std::transform(closing.begin(), closing.end(), std::back_inserter(closing_), [&](int d) {
        return closing_fd{tid, pid, d};
    });
    const std::vector<holder> holders = line_holders(line_);
    // A close that is no longer seen has run.
    std::erase_if(closing_, [&](const closing_fd &c) {
        return std::none_of(holders.begin(), holders.end(),
                            [&](const holder &h) { return h.pid == c.pid && h.fd == c.fd; });
    });
    return std::all_of(holders.begin(), holders.end(), [&](const holder &h) {
        return std::any_of(closing_.begin(), closing_.end(),
                           [&](const closing_fd &c) { return c.pid == h.pid && c.fd == h.fd; });
    });
}
