// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "poll_wait.h"

#include "procs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace
{

constexpr std::size_t MOST_DESCRIPTORS = 65536;
// The kernel's own signal set: 64 signals, 128 on MIPS.
#ifdef __mips__
constexpr std::size_t KERNEL_SIGSET = 16;
#else
constexpr std::size_t KERNEL_SIGSET = 8;
#endif
constexpr short ASK_OUTPUT = POLLOUT | POLLWRNORM;
// What select counts as ready in each of its sets, as the kernel does.
constexpr short READ_SET = POLLIN | POLLRDNORM | POLLRDBAND | POLLHUP | POLLERR;
constexpr short WRITE_SET = POLLOUT | POLLWRNORM | POLLWRBAND | POLLERR;
constexpr short EXCEPT_SET = POLLPRI;
constexpr short SET_EVENTS[3] = {POLLIN, POLLOUT, POLLPRI};
constexpr short SET_READY[3] = {READ_SET, WRITE_SET, EXCEPT_SET};

bool is_set(const std::vector<unsigned char> &set, int fd, const call_abi &abi)
{
    const fd_bit bit = fd_set_bit(fd, abi.long_bytes, abi.order);
    return (set[bit.byte] & bit.mask) != 0;
}

bool is_select(const wait_request &req)
{
    return req.form == watched_call::select || req.form == watched_call::pselect6;
}

interval_form time_form(const wait_request &req)
{
    return req.form == watched_call::select ? interval_form::timeval : interval_form::timespec;
}

} // namespace

std::optional<held_wait> held_wait::examine(const wait_request &req, dev_t line, nanos now_ns)
{
    held_wait w;
    w.req_ = req;
    if (!w.read_sets(req, line) || !w.read_time(req, now_ns))
        return std::nullopt;
    return w;
}

void held_wait::watch_others()
{
    for (entry &e : entries_) {
        if (e.line || e.closed || e.fd < 0 || e.other >= 0)
            continue;
        const int dup = dup_fd(req_.pid, e.fd);
        if (dup < 0)
            continue;
        e.other = static_cast<int>(others_.size());
        others_.push_back({dup, e.events, 0});
    }
}

bool held_wait::read_sets(const wait_request &req, dev_t line)
{
    asks_ = false;
    return (is_select(req) ? read_select(req, line) : read_poll(req, line)) && asks_;
}

void held_wait::add(const wait_request &req, dev_t line, int fd, short events)
{
    const bool is = fd >= 0 && is_line(req.pid, fd, line) == tell::yes;
    asks_ = asks_ || (is && (events & ASK_OUTPUT) != 0);
    // A descriptor that is not open is answered at once; a negative one is
    // passed over.
    const bool closed = !is && fd >= 0 && is_open(req.pid, fd) == tell::no;
    entries_.push_back({fd, events, is, closed});
}

// poll and ppoll: the kernel refuses more descriptors than the program may
// open (EINVAL), and an array it cannot read (EFAULT).
bool held_wait::read_poll(const wait_request &req, dev_t line)
{
    const std::uint64_t *args = req.args;
    const std::uint32_t n = static_cast<std::uint32_t>(args[1]); // an unsigned int
    const long long limit = open_file_limit(req.pid);
    // Bounded before it narrows to a 32-bit panel's size_t.
    if (n == 0 || n > MOST_DESCRIPTORS || (limit >= 0 && n > limit))
        return false;
    std::vector<pollfd> fds(n);
    if (read_memory(req.pid, args[0], fds.data(), n * sizeof(pollfd)) != 0)
        return false;
    for (const pollfd &p : fds)
        add(req, line, p.fd, p.events);
    return true;
}

// select and pselect6: the kernel refuses a negative count (EINVAL), sets it
// cannot read (EFAULT) and a descriptor in them that is not open (EBADF). It
// looks no further than its table of descriptors reaches: what lies beyond
// is neither checked nor written back.
bool held_wait::read_select(const wait_request &req, dev_t line)
{
    const std::uint64_t *args = req.args;
    long long n = static_cast<std::int32_t>(args[0]); // an int
    const long long table = fd_table_size(req.pid);
    if (table >= 0)
        n = std::min(n, table);
    if (n <= 0 || n > static_cast<long long>(MOST_DESCRIPTORS) || args[2] == 0)
        return false;
    bits_ = static_cast<std::size_t>(n);
    std::vector<unsigned char> sets[3];
    for (int s = 0; s < 3; s++) {
        sets[s].assign(fd_set_bytes(bits_, req.abi.long_bytes), 0);
        if (args[1 + s] != 0 &&
            read_memory(req.pid, args[1 + s], sets[s].data(), sets[s].size()) != 0)
            return false;
    }
    for (int fd = 0; fd < static_cast<int>(bits_); fd++) {
        short events = 0;
        for (int s = 0; s < 3; s++)
            if (is_set(sets[s], fd, req.abi))
                events = static_cast<short>(events | SET_EVENTS[s]);
        if (events != 0)
            add(req, line, fd, events);
    }
    return std::none_of(entries_.begin(), entries_.end(), [](const entry &e) { return e.closed; });
}

// A signal mask given to ppoll or pselect6 that the kernel refuses: of
// another size than its own (EINVAL), or where it cannot be read (EFAULT).
bool held_wait::mask_refused(const wait_request &req)
{
    const std::uint64_t *args = req.args;
    const unsigned bytes = req.abi.pointer_bytes;
    std::uint64_t mask = 0;
    std::uint64_t size = 0;
    if (req.form == watched_call::ppoll) {
        mask = args[3];
        size = args[4];
    } else if (req.form == watched_call::pselect6 && args[5] != 0) {
        // A pointer to the mask and its size, each a word of the ABI.
        unsigned char pack[16] = {};
        if (read_memory(req.pid, args[5], pack, std::size_t{2} * bytes) != 0)
            return true;
        mask = abi_word(pack, bytes, req.abi.order);
        size = abi_word(pack + bytes, bytes, req.abi.order);
    }
    unsigned char set[KERNEL_SIGSET] = {};
    return mask != 0 &&
           (size != KERNEL_SIGSET || read_memory(req.pid, mask, set, KERNEL_SIGSET) != 0);
}

// Where the time limit is, and in what form: poll's milliseconds, select's
// timeval, or the timespec of ppoll and pselect6. The kernel refuses a time
// it cannot read (EFAULT) and one before now or with a part of a second out
// of range (EINVAL); select's microseconds may run over a second.
bool held_wait::read_time(const wait_request &req, nanos now_ns)
{
    const std::uint64_t *args = req.args;
    if (req.form == watched_call::poll) {
        const int ms = static_cast<int>(args[2]);
        deadline_ = ms < 0 ? NEVER : now_ns + ms * NS_PER_MS;
        return true;
    }
    if (mask_refused(req))
        return false;
    const std::uint64_t at = req.form == watched_call::ppoll ? args[2] : args[4];
    if (at == 0) {
        deadline_ = NEVER;
        return true;
    }
    unsigned char t[2 * sizeof(std::uint64_t)] = {};
    if (read_memory(req.pid, at, t, std::size_t{2} * req.abi.time_bytes) != 0)
        return false;
    const auto interval = read_interval(t, time_form(req), req.abi);
    if (!interval)
        return false;
    deadline_ = *interval > NEVER - now_ns ? NEVER : now_ns + *interval;
    return true;
}

held_wait::held_wait(held_wait &&other) noexcept
    : req_(other.req_), entries_(std::move(other.entries_)), others_(std::move(other.others_)),
      deadline_(other.deadline_), bits_(other.bits_)
{
    other.others_.clear();
}

held_wait &held_wait::operator=(held_wait &&other) noexcept
{
    if (this != &other) {
        close_others();
        req_ = other.req_;
        entries_ = std::move(other.entries_);
        others_ = std::move(other.others_);
        deadline_ = other.deadline_;
        bits_ = other.bits_;
        other.others_.clear();
    }
    return *this;
}

held_wait::~held_wait()
{
    close_others();
}

void held_wait::close_others()
{
    for (const pollfd &p : others_)
        close(p.fd);
    others_.clear();
}

bool held_wait::others_ready()
{
    if (std::any_of(entries_.begin(), entries_.end(), [](const entry &e) { return e.closed; }))
        return true;
    return !others_.empty() && poll(others_.data(), others_.size(), 0) > 0;
}

short held_wait::ready(const entry &e, bool line_writable) const
{
    if (e.line)
        return line_writable ? static_cast<short>(e.events & ASK_OUTPUT) : short{0};
    if (e.closed)
        return POLLNVAL;
    if (e.other < 0)
        return 0;
    return others_[static_cast<std::size_t>(e.other)].revents;
}

nanos held_wait::write_outcome(bool line_writable, nanos now_ns, int &err)
{
    if (!others_.empty())
        (void)poll(others_.data(), others_.size(), 0);
    long long count = 0;
    err = is_select(req_) ? write_select(line_writable, count) : write_poll(line_writable, count);
    if (err == 0)
        err = write_time(now_ns);
    return err == 0 ? count : -1;
}

int held_wait::write_poll(bool line_writable, long long &count)
{
    std::vector<pollfd> out;
    for (const entry &e : entries_) {
        // Errors and hang-ups are reported whether asked for or not.
        const short r =
            static_cast<short>(ready(e, line_writable) & (e.events | POLLERR | POLLHUP | POLLNVAL));
        out.push_back({e.fd, e.events, r});
        count += r != 0 ? 1 : 0;
    }
    return write_memory(req_.pid, req_.args[0], out.data(), out.size() * sizeof(pollfd));
}

int held_wait::write_select(bool line_writable, long long &count)
{
    const std::uint64_t *args = req_.args;
    const call_abi &abi = req_.abi;
    for (int s = 0; s < 3; s++) {
        if (args[1 + s] == 0)
            continue;
        std::vector<unsigned char> set(fd_set_bytes(bits_, abi.long_bytes), 0);
        for (const entry &e : entries_)
            if ((e.events & SET_EVENTS[s]) && (ready(e, line_writable) & SET_READY[s])) {
                const fd_bit bit = fd_set_bit(e.fd, abi.long_bytes, abi.order);
                set[bit.byte] |= bit.mask;
                count++;
            }
        if (const int err = write_memory(req_.pid, args[1 + s], set.data(), set.size()))
            return err;
    }
    return 0;
}

// ppoll, select and pselect6 leave the time that was left where their
// limit was.
int held_wait::write_time(nanos now_ns)
{
    if (req_.form == watched_call::poll || deadline_ == NEVER)
        return 0;
    const std::uint64_t at = req_.form == watched_call::ppoll ? req_.args[2] : req_.args[4];
    unsigned char t[2 * sizeof(std::uint64_t)] = {};
    const std::size_t n =
        write_interval(t, std::max(0LL, deadline_ - now_ns), time_form(req_), req_.abi);
    return write_memory(req_.pid, at, t, n);
}
