// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "watch.h"

#include "privilege.h"
#include "procs.h"
#include "seccomp_compat.h"
#include "serial_abi.h"
#include "tty_abi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/seccomp.h>
#include <optional>
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

void line_watch::adopt(int listener)
{
    fd_ = listener;
    // An older kernel refuses it: each call then wakes the panel as any event does.
    if (fd_ >= 0)
        (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SET_FLAGS,
                    static_cast<std::uint64_t>(SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP));
}

void line_watch::stop()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool line_watch::valid(const call_id &who) const
{
    std::uint64_t id = who.id;
    return fd_ >= 0 && ioctl(fd_, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
}

void line_watch::open_goes_on(const call_id &who)
{
    openers_.opening(who.pid);
    go_on(who);
}

void line_watch::go_on(const call_id &who) const
{
    seccomp_notif_resp resp{};
    resp.id = who.id;
    resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}

void line_watch::answer(const call_id &who, long long value, int err) const
{
    seccomp_notif_resp resp{};
    resp.id = who.id;
    resp.val = err != 0 ? 0 : value;
    resp.error = err != 0 ? -err : 0;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}

bool line_watch::receive(line_call &call, const port_view &port)
{
    seccomp_notif req{};
    if (ioctl(fd_, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
        return errno == EINTR || errno == ENOENT;
    call = line_call{{req.id, static_cast<pid_t>(req.pid), req.data.nr}, calls::passes{}};
    // A thread that makes a call has finished the one before it.
    std::erase_if(closing_, [&](const closing_fd &c) { return c.tid == call.who.pid; });
    if (openers_.finished(call.who.pid)) {
        line_news n;
        check_left_open(n);
    }

    call.what = decode(req, port);
    // What was read belongs to a call that is still waiting, or to none.
    // (A program of another ABI had nothing read; a write's bytes are read,
    // and the call checked, as the port takes them.)
    if (!std::holds_alternative<calls::passes>(call.what) &&
        !std::holds_alternative<calls::blind>(call.what) &&
        !std::holds_alternative<calls::write_bytes>(call.what) && !valid(call.who))
        call.what = calls::gone{};
    return true;
}

call_kind line_watch::decode(const seccomp_notif &req, const port_view &port)
{
    if (!known_abi(req.data.arch)) {
        char why[96];
        snprintf(why, sizeof why, "a program of another ABI (audit arch %#x) runs", req.data.arch);
        return calls::blind{why};
    }
    const auto abi = classify(req.data.arch, req.data.nr);
    if (!abi)
        return calls::passes{};
    std::uint64_t args[6];
    std::copy(std::begin(req.data.args), std::end(req.data.args), args);
    return decode({req.id, static_cast<pid_t>(req.pid), req.data.nr}, *abi, args, port);
}

call_kind line_watch::decode(const call_id &who, const call_abi &abi, const std::uint64_t *args,
                             const port_view &port)
{
    switch (abi.call) {
    case watched_call::ioctl:
        return ioctl_call(who, abi, args, port.settings);
    case watched_call::write:
    case watched_call::writev:
        return write_call(who, abi, args);
    case watched_call::open:
    case watched_call::openat:
    case watched_call::openat2:
    case watched_call::creat:
        return open_call(who, abi, args);
    case watched_call::poll:
    case watched_call::ppoll:
    case watched_call::select:
    case watched_call::pselect6:
        return poll_call(who, abi, args, port);
    case watched_call::fcntl: // F_SETFL: the flags of the file may change
        fds_.forget();
        return calls::passes{};
    case watched_call::io_uring_setup:
        fds_.stop();
        return calls::passes{};
    default:
        return close_call(who, abi, args);
    }
}

namespace
{

// The break tcsendbreak sends, and TCSBRKP with a length of 0.
constexpr nanos SEND_BREAK_NS = 250 * NS_PER_MS;

// A terminal request on a descriptor the panel cannot tell is the line:
// a drain is waited for, a change of settings is flagged not seen.
call_kind unseen_request(const call_id &who, const tty_request &r, const line_settings &current)
{
    if (record_size(r.op) > 0) {
        line_settings s = current;
        s.known = false;
        return calls::set_settings{s,
                                   r.drain_first,
                                   "cannot see which file process " + std::to_string(who.pid) +
                                       " set the settings of (" + strerror(EACCES) + ")",
                                   0,
                                   {}};
    }
    if (r.op == tty_op::drain || r.drain_first)
        return calls::drain{};
    return calls::passes{};
}

} // namespace

// The settings a request's record asks for, read out of the program. Its
// record goes with them: the panel makes the request on the pseudo-terminal
// itself, so that it knows what the pseudo-terminal holds from then on. While
// a program the panel does not watch has the line open, they are not known:
// it may change them at any moment.
call_kind line_watch::settings_call(const call_id &who, unsigned request, std::uint64_t addr,
                                    const line_settings &current) const
{
    const tty_request &r = *find_request(request);
    std::vector<unsigned char> record(record_size(r.op));
    const int err = read_memory(who.pid, addr, record.data(), record.size());
    // A request at a bad address fails in the kernel too: nothing changes.
    if (err == EFAULT)
        return calls::passes{};
    if (err != 0) {
        line_settings s = current;
        s.known = false;
        return calls::set_settings{
            s, r.drain_first, cannot_read(who.pid, "the settings", err), 0, {}};
    }
    calls::set_settings set{
        settings_from(r.op, record.data(), current), r.drain_first, {}, request, std::move(record)};
    if (openers_.outsider_holds()) {
        set.settings.known = false;
        set.why = "a program the panel does not watch has the line open";
    }
    return set;
}

namespace
{

// A driver request whose record could not be read: at a bad address it is
// refused as the UART's driver refuses it; one the panel may not read is the
// kernel's to answer.
call_kind unread_record(int err)
{
    return err == EFAULT ? call_kind{calls::refuse{EFAULT}} : call_kind{calls::passes{}};
}

// TIOCMSET, TIOCMBIS or TIOCMBIC, with the word it points to.
call_kind modem_call(const call_id &who, tty_op op, std::uint64_t addr)
{
    unsigned value = 0;
    const int err = read_memory(who.pid, addr, &value, sizeof value);
    if (err != 0)
        return unread_record(err);
    if (op == tty_op::modem_bis)
        return calls::set_modem{value, 0};
    if (op == tty_op::modem_bic)
        return calls::set_modem{0, value};
    return calls::set_modem{value, ~value};
}

// TIOCSSERIAL, with the record it points to, in its caller's layout.
call_kind serial_call(const call_id &who, const call_abi &abi, std::uint64_t addr)
{
    const record_layout layout{abi.pointer_bytes, abi.order};
    unsigned char record[LARGEST_SERIAL_RECORD];
    const int err = read_memory(who.pid, addr, record, serial_record_size(layout));
    if (err != 0)
        return unread_record(err);
    return calls::set_serial{get_serial_record(record, layout), has_sys_admin(who.pid)};
}

// A request of the UART's driver beyond the terminal's settings: the
// modem-control lines, the counters, the line status, the port's setup.
call_kind driver_request(const call_id &who, const call_abi &abi, tty_op op, std::uint64_t arg)
{
    switch (op) {
    case tty_op::modem_get:
        return calls::ask_modem{arg};
    case tty_op::modem_wait:
        return calls::wait_modem{static_cast<unsigned>(arg)};
    case tty_op::get_icount:
        return calls::ask_counts{arg};
    case tty_op::get_lsr:
        return calls::ask_lsr{arg};
    case tty_op::get_serial:
        return calls::ask_serial{arg, {abi.pointer_bytes, abi.order}};
    case tty_op::set_serial:
        return serial_call(who, abi, arg);
    default:
        return modem_call(who, op, arg);
    }
}

} // namespace

call_kind line_watch::ioctl_call(const call_id &who, const call_abi &abi, const std::uint64_t *args,
                                 const line_settings &current) const
{
    const tty_request *r = find_request(static_cast<unsigned>(args[1]));
    if (r == nullptr)
        return calls::passes{};
    if (r->op == tty_op::nonblocking) {
        fds_.forget();
        return calls::passes{};
    }
    const tell on_line = fds_.of(who.pid, static_cast<long long>(args[0])).line;
    if (on_line == tell::no)
        return calls::passes{};
    if (is_get(r->op)) // another file's settings are the kernel's to give
        return on_line == tell::yes ? call_kind{calls::ask_settings{r->number, args[2]}}
                                    : call_kind{calls::passes{}};
    if (on_line == tell::cannot)
        return unseen_request(who, *r, current);
    const long arg = static_cast<long>(args[2]);
    switch (r->op) {
    case tty_op::drain: // tcdrain; with 0, tcsendbreak
        return arg != 0 ? call_kind{calls::drain{}} : call_kind{calls::send_break{SEND_BREAK_NS}};
    case tty_op::brk:
        // As the kernel reckons it: in milliseconds, an unsigned int, so
        // that a negative length is a very long break, not a refusal.
        return calls::send_break{
            args[2] != 0 ? static_cast<nanos>(static_cast<unsigned>(args[2] * 100)) * NS_PER_MS
                         : SEND_BREAK_NS};
    case tty_op::break_on:
        return calls::break_on{};
    case tty_op::break_off:
        return calls::break_off{};
    case tty_op::flush:
        return arg == TTY_OUTPUT_QUEUE || arg == TTY_BOTH_QUEUES ? call_kind{calls::flush_output{}}
                                                                 : call_kind{calls::passes{}};
    case tty_op::flow:
        return calls::flow_request{arg};
    case tty_op::outq:
        return calls::ask_queued{args[2]};
    case tty_op::modem_get:
    case tty_op::modem_bis:
    case tty_op::modem_bic:
    case tty_op::modem_set:
    case tty_op::modem_wait:
    case tty_op::get_icount:
    case tty_op::get_lsr:
    case tty_op::get_serial:
    case tty_op::set_serial:
        return driver_request(who, abi, r->op, args[2]);
    default:
        return settings_call(who, r->number, args[2], current);
    }
}

call_kind line_watch::write_call(const call_id &who, const call_abi &abi,
                                 const std::uint64_t *args) const
{
    const int desc = static_cast<int>(args[0]);
    const descriptors::facts facts = fds_.of(who.pid, desc);
    if (facts.line != tell::yes)
        return calls::passes{};
    // A descriptor not open for writing (EBADF) and a call whose count or
    // addresses the kernel refuses are left to the kernel: it sends nothing.
    const long flags = facts.flags;
    if (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY)
        return calls::passes{};
    std::vector<segment> data;
    if (abi.call == watched_call::write) {
        const std::uint64_t size = args[2];
        if (!user_range(args[1], size, abi))
            return calls::passes{};
        data.push_back(
            {args[1], static_cast<std::size_t>(std::min<std::uint64_t>(size, most_per_call()))});
    } else if (!read_io_vectors(who.pid, abi, args, data)) {
        return calls::passes{};
    }
    return calls::write_bytes{std::move(data), flags >= 0 && (flags & O_NONBLOCK) != 0};
}

// A poll or select concerns the line only while the line has no room: the
// kernel's own answer is right otherwise, and its descriptors need not be
// read. Then it does when it asks the line for output.
call_kind line_watch::poll_call(const call_id &who, const call_abi &abi, const std::uint64_t *args,
                                const port_view &port) const
{
    if (port.takes_output)
        return calls::passes{};
    wait_request req{who.pid, abi.call, {}, abi};
    std::copy(args, args + 6, req.args);
    auto wait = held_wait::examine(req, line_, port.now);
    if (!wait)
        return calls::passes{};
    return calls::wait_for_room{std::move(*wait)};
}

namespace
{

// Whether an open asks for O_PATH: a descriptor that names the file and
// opens nothing.
bool path_only(pid_t pid, const call_abi &abi, const std::uint64_t *args)
{
    std::uint64_t flags = 0;
    switch (abi.call) {
    case watched_call::open:
        flags = args[1];
        break;
    case watched_call::openat:
        flags = args[2];
        break;
    case watched_call::openat2: // struct open_how: its flags first
        if (read_memory(pid, args[2], &flags, sizeof flags) != 0)
            return false;
        break;
    default: // creat
        break;
    }
    return (flags & O_PATH) != 0;
}

} // namespace

// An open of the line: the port lets it go on, counted, or holds it while a
// last close is under way. An O_PATH open opens nothing: it is counted only
// where the kernel counts it.
call_kind line_watch::open_call(const call_id &who, const call_abi &abi,
                                const std::uint64_t *args) const
{
    const bool at = abi.call == watched_call::openat || abi.call == watched_call::openat2;
    const auto path = read_string(who.pid, args[at ? 1 : 0], PATH_MAX);
    const int dirfd = at ? static_cast<int>(args[0]) : AT_FDCWD;
    if (!path || device_at(who.pid, dirfd, *path) != line_)
        return calls::passes{};
    if (path_only(who.pid, abi, args) && !openers_.counts_paths())
        return calls::passes{};
    return calls::open_line{};
}

namespace
{

// The descriptors a close, dup2, close_range, exit or exec closes; open is
// the process's open descriptors, where the call needs them.
std::vector<int> closed_by(pid_t pid, const call_abi &abi, const std::uint64_t *args,
                           const std::vector<int> &open)
{
    std::vector<int> closing;
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
    case watched_call::exit: // the last thread's: its process's files close with it
        closing = open;
        break;
    default: // an exec closes what is marked close-on-exec
        std::copy_if(open.begin(), open.end(), std::back_inserter(closing), [&](int d) {
            const long flags = fd_flags(pid, d);
            return flags >= 0 && (flags & O_CLOEXEC) != 0;
        });
    }
    return closing;
}

} // namespace

call_kind line_watch::close_call(const call_id &who, const call_abi &abi, const std::uint64_t *args)
{
    // A thread that ends while others go on closes nothing.
    if (abi.call == watched_call::exit && thread_count(who.pid) > 1)
        return calls::passes{};
    const bool needs_open = abi.call != watched_call::close && abi.call != watched_call::dup2 &&
                            abi.call != watched_call::dup3;
    const std::vector<int> closing =
        closed_by(who.pid, abi, args, needs_open ? open_fds(who.pid) : std::vector<int>{});
    std::vector<line_fd> closed;
    for (const int d : closing)
        if (fds_.of(who.pid, d).line != tell::no) // one not to be looked into may be the line
            closed.push_back({who.pid, d});
    forget_closed(abi, args);
    if (!closed.empty() && last(who.pid, closed))
        return calls::last_close{};
    return calls::passes{};
}

// What a call frees or replaces is forgotten; an exit or an exec, everything.
void line_watch::forget_closed(const call_abi &abi, const std::uint64_t *args)
{
    const auto number = [](std::uint64_t a) { return static_cast<long long>(a & 0xffffffffU); };
    switch (abi.call) {
    case watched_call::close:
        return fds_.closed(number(args[0]), number(args[0]));
    case watched_call::dup2:
    case watched_call::dup3:
        return fds_.closed(number(args[1]), number(args[1]));
    case watched_call::close_range:
        if ((args[2] & CLOSE_RANGE_CLOEXEC_ONLY) == 0)
            fds_.closed(number(args[0]), number(args[1]));
        return;
    default:
        return fds_.forget();
    }
}

// Descriptor fd of process pid, if it is the line's: open on it, or one
// that may not be looked into (it may be the line).
std::optional<line_watch::line_fd> line_watch::line_fd_of(pid_t pid, int fd) const
{
    if (is_line(pid, fd, line_) == tell::no)
        return std::nullopt;
    return line_fd{pid, fd};
}

// The descriptors of the line that the watched programs hold: only the
// panel's own processes are looked through.
std::vector<line_watch::line_fd> line_watch::all_watched_fds() const
{
    std::vector<line_fd> found;
    for (const pid_t pid : descendants(getpid()))
        for (const int d : open_fds(pid))
            if (const auto l = line_fd_of(pid, d))
                found.push_back(*l);
    return found;
}

// Whether closing these descriptors of the thread tid leaves the line open
// in none of the watched programs, nor, as far as the kernel has told, in
// any other. Closes let go earlier may not have run yet: their descriptors
// count as closed. Exactly one of several closes made at the same moment is
// the last.
bool line_watch::last(pid_t tid, const std::vector<line_fd> &closed)
{
    std::transform(closed.begin(), closed.end(), std::back_inserter(closing_),
                   [&](const line_fd &c) {
                       return closing_fd{tid, c};
                   });
    const std::vector<line_fd> fds = all_watched_fds();
    const auto is = [](const line_fd &a, const line_fd &b) {
        return a.pid == b.pid && a.fd == b.fd;
    };
    // A close that is no longer seen has run.
    std::erase_if(closing_, [&](const closing_fd &c) {
        return std::none_of(fds.begin(), fds.end(), [&](const line_fd &f) { return is(f, c.at); });
    });
    return !openers_.outsider_holds() && std::all_of(fds.begin(), fds.end(), [&](const line_fd &f) {
        return std::any_of(closing_.begin(), closing_.end(),
                           [&](const closing_fd &c) { return is(f, c.at); });
    });
}

void line_watch::close_goes_on(const call_id &who)
{
    openers_.closing_last(who.pid, who.nr);
    go_on(who);
}

line_news line_watch::news()
{
    line_news n = openers_.read();
    if (n.left_open)
        check_left_open(n);
    return n;
}

// A last close went on and the line stayed open: if none of the watched
// programs holds it, someone else does.
void line_watch::check_left_open(line_news &n)
{
    if (!all_watched_fds().empty())
        return;
    openers_.held_outside();
    n.outsider = true;
}
