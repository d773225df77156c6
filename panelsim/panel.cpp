// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "panel.h"

#include "clock.h"
#include "procs.h"
#include "tty_abi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace
{

// How long the serial core lets a last close wait for the output to leave.
constexpr nanos CLOSING_WAIT_NS = 30 * NS_PER_S;
// While bytes are queued, reports come out as their frames end, at least this often.
constexpr nanos REPORT_EVERY_NS = 10 * NS_PER_MS;
// How much of a program's bytes is read at a time.
constexpr std::size_t CHUNK = 4096;

line_settings initial(const pty_line &line, bool blind)
{
    line_settings s = read_settings(line.master());
    s.known = !blind;
    return s;
}

// The byte at offset `at` of a write's segments, and how many follow it in its segment.
std::pair<std::uint64_t, std::size_t> locate(const std::vector<segment> &data, std::size_t at)
{
    for (const segment &s : data) {
        if (at < s.size)
            return {s.addr + at, s.size - at};
        at -= s.size;
    }
    return {0, 0};
}

// The line discipline copies a write in chunks of this many bytes, each
// whole or not at all: a write whose memory goes bad part way takes the
// chunks before, and fails with EFAULT when there are none.
constexpr std::size_t WRITE_CHUNK = 2048;

// Whether n bytes of a write's segments from offset `at` can be read.
bool readable(pid_t pid, const std::vector<segment> &data, std::size_t at, std::size_t n)
{
    std::uint8_t scratch[WRITE_CHUNK];
    while (n > 0) {
        const auto [addr, left] = locate(data, at);
        const std::size_t k = std::min({n, left, sizeof scratch});
        if (k == 0 || read_memory(pid, addr, scratch, k) != 0)
            return false;
        at += k;
        n -= k;
    }
    return true;
}

} // namespace

panel::panel(pty_line &line, line_watch &watch, reporter &out, vcd_writer &vcd,
             const panel_options &options)
    : line_(line), watch_(watch), out_(out), vcd_(vcd), start_(options.start_ns),
      wire_(initial(line, options.blind), options.wire, *this),
      holds_(!options.wire.at_arrival && !options.blind), blind_(options.blind)
{
}

nanos panel::now() const
{
    return clock_ns(CLOCK_MONOTONIC) - start_;
}

bool panel::closing() const
{
    return std::any_of(drains_.begin(), drains_.end(),
                       [](const drain_wait &d) { return d.call.kind == line_call::last_close; });
}

// Takes in what the programs wrote to the pseudo-terminal, as far as the
// transmit buffer has room: a read that finds nothing first waits for the
// pseudo-terminal to pass on what was written before it.
void panel::take_in()
{
    // One time for the whole turn, as in feed.
    (void)take_in_at(now());
}

bool panel::take_in_at(nanos t)
{
    std::uint8_t buf[CHUNK];
    wire_.advance(t);
    while (wire_.room() > 0) {
        const ssize_t n = line_.read({buf, std::min(sizeof buf, wire_.room())}, 0);
        if (n <= 0)
            return false;
        if (blind_ || !wire_.settings().known)
            follow_line(t);
        (void)wire_.take({buf, static_cast<std::size_t>(n)}, t);
    }
    return true;
}

// What the pseudo-terminal still holds, read and counted, never sent.
std::size_t panel::drop_unread()
{
    std::uint8_t buf[CHUNK];
    std::size_t dropped = 0;
    ssize_t n;
    while ((n = line_.read(buf, 0)) > 0)
        dropped += static_cast<std::size_t>(n);
    return dropped;
}

void panel::handle(line_call &call)
{
    take_in();
    const nanos t = now();
    wire_.advance(t);
    const bool flow_call = call.kind == line_call::write || call.kind == line_call::poll ||
                           call.kind == line_call::open || call.kind == line_call::last_close ||
                           call.kind == line_call::outq || call.kind == line_call::flow ||
                           call.kind == line_call::drain;
    if (!holds_ && flow_call)
        return watch_.go_on(call);
    switch (call.kind) {
    case line_call::gone:
        return;
    case line_call::other:
    case line_call::open:
        if (call.kind == line_call::open && closing())
            return opens_.push_back(call);
        return watch_.go_on(call);
    case line_call::blind:
        unknown(call.why);
        return watch_.go_on(call);
    case line_call::set:
        // Unknown settings take effect when the call does.
        if (!call.settings.known)
            say_unknown(call.why);
        if (call.drain_first && holds_)
            return drains_.push_back({call});
        wire_.change(call.settings, t);
        return watch_.go_on(call);
    case line_call::drain:
        return drains_.push_back({call});
    case line_call::brk:
        // Behind an emulated UART nothing waits: the break is laid out
        // after the bytes before it.
        if (holds_)
            return drains_.push_back({call});
        wire_.break_on(t, call.arg * NS_PER_MS);
        return watch_.go_on(call);
    case line_call::break_on:
        // The UART holds the line low at once, whatever is queued.
        wire_.break_on(t);
        return watch_.go_on(call);
    case line_call::break_off:
        wire_.break_off(t);
        return watch_.go_on(call);
    case line_call::flush_output:
        // Behind an emulated UART the bytes have already left.
        if (holds_)
            discard();
        return watch_.go_on(call);
    case line_call::flow:
        return answer_flow(call);
    case line_call::outq:
        return answer_outq(call);
    case line_call::get:
        return answer_get(call);
    case line_call::write:
        return start_write(call);
    case line_call::poll:
        return start_wait(call);
    case line_call::last_close:
        return start_last_close(call);
    }
}

// tcflow: output suspended and resumed, or a flow-control character sent.
void panel::answer_flow(const line_call &call)
{
    const nanos t = now();
    switch (call.arg) {
    case TTY_OOFF:
        wire_.suspend(t);
        break;
    case TTY_OON:
        wire_.resume(t);
        break;
    case TTY_IOFF:
    case TTY_ION: {
        const std::uint8_t c =
            call.arg == TTY_IOFF ? wire_.settings().stop_char : wire_.settings().start_char;
        if (c != 0)
            wire_.send_x(c, t);
        break;
    }
    default:
        return watch_.answer(call, 0, EINVAL);
    }
    watch_.answer(call, 0);
}

void panel::answer_outq(const line_call &call)
{
    const int queued = static_cast<int>(std::min<std::size_t>(wire_.queued(), INT_MAX));
    const int err = write_memory(call.pid, call.addr, &queued, sizeof queued);
    watch_.answer(call, 0, err != 0 ? EFAULT : 0);
}

// The settings as a UART reports them: what it was set to, where the
// pseudo-terminal keeps its own character size and parity.
void panel::answer_get(const line_call &call)
{
    unsigned char record[128];
    const std::size_t size = wire_.settings().known
                                 ? report_settings(line_.master(), static_cast<unsigned>(call.arg),
                                                   wire_.settings(), record)
                                 : 0;
    if (size == 0)
        return watch_.go_on(call);
    const int err = write_memory(call.pid, call.addr, record, size);
    watch_.answer(call, 0, err != 0 ? EFAULT : 0);
}

void panel::start_write(line_call &call)
{
    held_write w{call};
    for (const segment &s : call.data)
        w.total += s.size;
    if (!call.nonblocking)
        return writers_.push_back(std::move(w));
    // A write that must not wait takes what fits, and only while no other
    // write has the port.
    if (!port_free())
        return watch_.answer(call, 0, EAGAIN);
    if (feed(w))
        return;
    watch_.answer(call, static_cast<long long>(w.done), w.done == 0 ? EAGAIN : 0);
}

// Takes as much of a write as the transmit buffer has room for, through
// output processing. Returns true once the write is answered (all taken, or
// its memory could not be read) or its program has gone.
bool panel::feed(held_write &w)
{
    std::uint8_t in[CHUNK];
    std::vector<std::uint8_t> out;
    // One time for the whole turn: room that the wire frees meanwhile waits
    // for the next turn, so a write that has filled the buffer sleeps.
    const nanos t = now();
    wire_.advance(t);
    while (w.done < w.total && wire_.room() > 0) {
        if (w.done >= w.checked) {
            const std::size_t chunk = std::min(WRITE_CHUNK, w.total - w.done);
            if (!readable(w.call.pid, w.call.data, w.done, chunk))
                return answer_bad_write(w);
            w.checked = w.done + chunk;
        }
        const auto [addr, left] = locate(w.call.data, w.done);
        const std::size_t n = std::min({left, sizeof in, wire_.room(), w.checked - w.done});
        if (const int err = read_memory(w.call.pid, addr, in, n); err != 0) {
            return answer_bad_write(w);
        }
        if (!watch_.valid(w.call))
            return true;
        out.clear();
        const std::size_t used = output_.process({in, n}, wire_.room(), wire_.settings(), out);
        (void)wire_.take(out, t);
        w.done += used;
        if (used == 0)
            break; // a character that needs more room than there is
    }
    if (w.done < w.total)
        return false;
    watch_.answer(w.call, static_cast<long long>(w.done));
    return true;
}

// A write whose memory cannot be read: what it sent, or EFAULT. Returns true.
bool panel::answer_bad_write(const held_write &w)
{
    if (watch_.valid(w.call))
        watch_.answer(w.call, static_cast<long long>(w.done), w.done == 0 ? EFAULT : 0);
    return true;
}

void panel::start_wait(const line_call &call)
{
    // While the line takes output the kernel's own answer is right: the
    // call's descriptors need not be read.
    if (wire_.writable() && port_free())
        return watch_.go_on(call);
    const nanos t = now();
    auto w = held_wait::examine(call, watch_.line(), t);
    if (!w)
        return watch_.go_on(call);
    w->watch_others();
    if (w->deadline() <= t || w->others_ready()) {
        int err = 0;
        const nanos count = w->finish(false, t, err);
        return watch_.answer(call, count, err);
    }
    waits_.push_back(std::move(*w));
}

void panel::start_last_close(const line_call &call)
{
    // A port whose output is suspended is not waited for: the serial core
    // drops what it holds.
    if (wire_.suspended())
        discard();
    drains_.push_back({call, now() + CLOSING_WAIT_NS});
}

void panel::discard()
{
    const nanos t = now();
    const std::size_t dropped = wire_.discard(t);
    print(monitor_.cut(dropped, t, wire_.settings()));
}

void panel::release()
{
    const nanos t = now();
    wire_.advance(t);
    if (breaking_ && !wire_.breaking()) {
        watch_.go_on(*breaking_);
        breaking_.reset();
    }
    release_drains();
    release_writers();
    release_waits();
    if (!closing()) {
        for (const line_call &call : opens_)
            watch_.go_on(call);
        opens_.clear();
    }
    print(monitor_.idle(t));
}

void panel::release_drains()
{
    const nanos t = now();
    const bool quiet = wire_.idle_at() <= t;
    std::vector<drain_wait> waiting;
    for (const drain_wait &d : drains_) {
        // A break waits its turn behind one under way: it needs the port.
        const bool turn = d.call.kind != line_call::brk || !breaking_;
        if (turn && (quiet || d.give_up <= t))
            end_drain(d, quiet);
        else
            waiting.push_back(d);
    }
    drains_ = std::move(waiting);
}

void panel::end_drain(const drain_wait &d, bool quiet)
{
    const nanos t = now();
    switch (d.call.kind) {
    case line_call::set:
        wire_.change(d.call.settings, t);
        break;
    case line_call::brk:
        wire_.break_on(t, d.call.arg * NS_PER_MS);
        breaking_ = d.call;
        return;
    case line_call::last_close:
        // After the closing wait the port is shut down with what it still
        // holds; the next open finds it afresh.
        if (!quiet)
            discard();
        wire_.break_off(t);
        wire_.resume(t);
        break;
    default:
        break;
    }
    watch_.go_on(d.call);
}

// The write that has the port takes what fits; once it has filled the
// buffer it sleeps until fewer than WAKEUP_CHARS bytes wait, as the line
// discipline's writer does.
void panel::release_writers()
{
    while (!writers_.empty() && !breaking_) {
        held_write &w = writers_.front();
        if (w.tried && wire_.writable_at() > now())
            return;
        w.tried = true;
        if (!feed(w))
            return;
        writers_.pop_front();
    }
}

void panel::release_waits()
{
    const nanos t = now();
    const bool writable = wire_.writable() && port_free();
    for (auto it = waits_.begin(); it != waits_.end();) {
        if (writable || it->deadline() <= t || it->others_ready()) {
            int err = 0;
            const nanos count = it->finish(writable, t, err);
            watch_.answer(it->call(), count, err);
            it = waits_.erase(it);
        } else {
            ++it;
        }
    }
}

nanos panel::next_due() const
{
    const nanos t = now();
    nanos next = NEVER;
    const auto due = [&](nanos at) { next = std::min(next, std::max(at, t)); };
    due(monitor_.deadline_ns());
    if (wire_.queued() > 0)
        due(std::min(wire_.idle_at(), t + REPORT_EVERY_NS));
    if (!drains_.empty())
        due(wire_.idle_at());
    for (const drain_wait &d : drains_)
        due(d.give_up);
    if (breaking_)
        due(wire_.break_until());
    if (port_free() && !waits_.empty())
        due(wire_.writable_at());
    if (!writers_.empty() && !breaking_)
        due(writers_.front().tried ? wire_.writable_at() : t);
    for (const held_wait &w : waits_)
        due(w.deadline());
    if (!has_room())
        due(wire_.writable_at());
    return next == NEVER ? NEVER : next - t;
}

void panel::waited_on(std::vector<pollfd> &fds) const
{
    for (const held_wait &w : waits_)
        fds.insert(fds.end(), w.others().begin(), w.others().end());
}

void panel::let_go()
{
    const nanos t = now();
    for (const drain_wait &d : drains_)
        watch_.go_on(d.call);
    drains_.clear();
    if (breaking_) {
        watch_.go_on(*breaking_);
        breaking_.reset();
    }
    for (const held_write &w : writers_)
        watch_.answer(w.call, static_cast<long long>(w.done), w.done == 0 ? EINTR : 0);
    writers_.clear();
    for (held_wait &w : waits_) {
        int err = 0;
        const nanos count = w.finish(wire_.writable(), t, err);
        watch_.answer(w.call(), count, err);
    }
    waits_.clear();
    for (const line_call &call : opens_)
        watch_.go_on(call);
    opens_.clear();
    holds_ = false;
}

void panel::finish(bool by_force)
{
    let_go();
    if (by_force) {
        const nanos t = now();
        (void)take_in_at(t);
        const std::size_t dropped = wire_.discard(t) + drop_unread();
        print(monitor_.cut(dropped, t, wire_.settings(), frame_monitor::run_ended));
    } else {
        run_out();
    }
    const nanos end = std::max(now(), wire_.idle_at());
    wire_.break_off(end);
    wire_.advance(end);
    print(monitor_.flush());
    // The dump runs on to the last stop bit if that is later.
    if (vcd_.is_open() && !vcd_.close(now()))
        perror("panelsim: the line's dump");
    out_.summary();
}

// Everything still in the pseudo-terminal is taken in as the buffer makes
// room for it, at the times it would; what a suspended port holds never
// leaves, and is reported as dropped.
void panel::run_out()
{
    nanos t = now();
    while (take_in_at(t) && !wire_.suspended())
        t = std::max(t, wire_.writable_at());
    if (wire_.suspended()) {
        t = std::max(t, now());
        const std::size_t dropped = wire_.discard(t) + drop_unread();
        print(monitor_.cut(dropped, t, wire_.settings()));
    }
}

void panel::sent(const sent_byte &b)
{
    const line_settings &s = b.settings;
    vcd_.byte(b.value, b.start_ns, {s.wire_baud(), s.data_bits, s.parity, s.stop_bits});
    print(monitor_.take(b));
}

void panel::went_low(nanos start_ns, const line_settings &s)
{
    print(monitor_.went_low(start_ns, s));
}

void panel::broke(const line_break &b)
{
    vcd_.low(b.start_ns, b.end_ns);
    out_.print(break_report(b));
}

// Where the settings were not seen, the speed, stop bits and flags are
// what the line reports; the size and parity stay unknown.
void panel::follow_line(nanos t)
{
    line_settings s = read_settings(line_.master());
    s.known = false;
    wire_.change(s, t);
}

void panel::say_unknown(const std::string &why)
{
    if (!said_unknown_)
        fprintf(stderr,
                "panelsim: %s: frames sent under settings not seen are flagged \"settings "
                "unknown\"\n",
                why.c_str());
    said_unknown_ = true;
}

// From now on the settings are not known.
void panel::unknown(const std::string &why)
{
    say_unknown(why);
    line_settings s = wire_.settings();
    s.known = false;
    wire_.change(s, now());
}

void panel::print(const std::vector<line_report> &reports)
{
    for (const auto &r : reports)
        out_.print(r);
}
