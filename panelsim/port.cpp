// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "port.h"

#include "procs.h"
#include "tty_abi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

namespace
{

// While bytes are queued, reports come out as their frames end, at least this often.
constexpr nanos REPORT_EVERY_NS = 10 * NS_PER_MS;
// How much of a program's bytes, or of the pseudo-terminal, is read at a time.
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

} // namespace

port::port(pty_line &line, line_watch &watch, verdicts &out, const port_options &options)
    : line_(line), watch_(watch), out_(out), wire_(initial(line, options.blind), options.wire, out),
      models_flow_(!options.wire.at_arrival && !options.blind), blind_(options.blind),
      expected_(read_record(line.master())), asked_(wire_.settings())
{
}

port_view port::view(nanos t) const
{
    return {asked_, !models_flow_ || (wire_.writable() && port_free()), t};
}

bool port::closing() const
{
    return std::any_of(drains_.begin(), drains_.end(), [](const drain_wait &d) {
        return std::holds_alternative<calls::last_close>(d.call.what);
    });
}

// Takes in what the programs wrote to the pseudo-terminal, as far as the
// transmit buffer has room: a read that finds nothing first waits for the
// pseudo-terminal to pass on what was written before it.
void port::take_in(nanos t)
{
    (void)take_in_until_full(t);
}

// True when the buffer filled before the pseudo-terminal was empty.
bool port::take_in_until_full(nanos t)
{
    std::uint8_t buf[CHUNK];
    wire_.advance(t);
    bool heard = false;
    while (wire_.room() > 0) {
        const ssize_t n = line_.read({buf, std::min(sizeof buf, wire_.room())}, 0);
        if (n <= 0) {
            let_go_ = n < 0 && errno == EIO;
            return false;
        }
        // Who wrote them, as far as the kernel has told, before they are judged.
        if (!std::exchange(heard, true))
            hear(watch_.news(), t);
        if (blind_ || !wire_.settings().known)
            follow_line(t);
        to_wire({buf, static_cast<std::size_t>(n)}, t);
    }
    return true;
}

// What the pseudo-terminal still holds, read and counted, never sent.
std::size_t port::drop_unread()
{
    std::uint8_t buf[CHUNK];
    std::size_t dropped = 0;
    ssize_t n;
    while ((n = line_.read(buf, 0)) > 0)
        dropped += static_cast<std::size_t>(n);
    return dropped;
}

void port::handle(line_call &&call, nanos t)
{
    std::visit(
        [&](auto &&kind) {
            using kind_t = std::decay_t<decltype(kind)>;
            if (is_flow<kind_t> && !models_flow_)
                return watch_.go_on(call.who);
            on(call.who, std::forward<decltype(kind)>(kind), t);
        },
        std::move(call.what));
}

void port::on(const call_id &who, calls::passes && /*c*/, nanos /*t*/)
{
    watch_.go_on(who);
}

void port::on(const call_id & /*who*/, calls::gone && /*c*/, nanos /*t*/) {}

void port::on(const call_id &who, calls::blind &&c, nanos t)
{
    unseen(c.why, t);
    watch_.go_on(who);
}

void port::on(const call_id &who, calls::set_settings &&c, nanos t)
{
    // Unknown settings take effect when the call does.
    if (!c.settings.known)
        out_.unseen(c.why);
    if (c.drain_first && models_flow_)
        return drains_.push_back({{who, std::move(c)}});
    apply(who, c, t);
}

// The change made: by the panel on the pseudo-terminal where it has the
// record, so that it knows what the pseudo-terminal holds from then on, else
// by the kernel; and on the wire, unless the kernel refuses it.
void port::apply(const call_id &who, const calls::set_settings &c, nanos t)
{
    if (c.record.empty()) {
        set_wire(c.settings, t);
        return watch_.go_on(who);
    }
    std::vector<unsigned char> record = c.record;
    if (const int err = line_.request(c.request, record.data()); err != 0)
        return watch_.answer(who, 0, err);
    expected_ = read_record(line_.master());
    set_wire(c.settings, t);
    watch_.answer(who, 0);
}

void port::on(const call_id &who, calls::drain &&c, nanos /*t*/)
{
    drains_.push_back({{who, c}});
}

void port::on(const call_id &who, calls::send_break &&c, nanos t)
{
    // Behind an emulated UART nothing waits: the break is laid out after
    // the bytes before it.
    if (models_flow_)
        return drains_.push_back({{who, c}});
    wire_.break_on(t, c.length);
    watch_.go_on(who);
}

void port::on(const call_id &who, calls::break_on && /*c*/, nanos t)
{
    // The UART holds the line low at once, whatever is queued.
    wire_.break_on(t);
    watch_.go_on(who);
}

void port::on(const call_id &who, calls::break_off && /*c*/, nanos t)
{
    wire_.break_off(t);
    watch_.go_on(who);
}

void port::on(const call_id &who, calls::flush_output && /*c*/, nanos t)
{
    // Behind an emulated UART the bytes have already left.
    if (models_flow_)
        discard(t);
    watch_.go_on(who);
}

// tcflow: output suspended and resumed, or a flow-control character sent.
void port::on(const call_id &who, calls::flow_request &&c, nanos t)
{
    switch (c.action) {
    case TTY_OOFF:
        wire_.suspend(t);
        break;
    case TTY_OON:
        wire_.resume(t);
        break;
    case TTY_IOFF:
    case TTY_ION: {
        const std::uint8_t ch =
            c.action == TTY_IOFF ? wire_.settings().stop_char : wire_.settings().start_char;
        if (ch != 0) {
            taken_ += wire_.flow_char_pending() ? 0 : 1; // one waiting is replaced
            wire_.send_flow_char(ch, t);
        }
        break;
    }
    default:
        return watch_.answer(who, 0, EINVAL);
    }
    watch_.answer(who, 0);
}

void port::on(const call_id &who, calls::ask_queued &&c, nanos /*t*/)
{
    const int queued = static_cast<int>(std::min<std::size_t>(wire_.queued(), INT_MAX));
    const int err = write_memory(who.pid, c.addr, &queued, sizeof queued);
    watch_.answer(who, 0, err != 0 ? EFAULT : 0);
}

// The settings as a UART reports them: what it was set to, where the
// pseudo-terminal keeps its own character size and parity.
void port::on(const call_id &who, calls::ask_settings &&c, nanos /*t*/)
{
    unsigned char record[LARGEST_RECORD];
    const std::size_t size = wire_.settings().known ? report_settings(line_.master(), c.request,
                                                                      wire_.settings(), record)
                                                    : 0;
    if (size == 0)
        return watch_.go_on(who);
    const int err = write_memory(who.pid, c.addr, record, size);
    watch_.answer(who, 0, err != 0 ? EFAULT : 0);
}

void port::on(const call_id &who, calls::write_bytes &&c, nanos t)
{
    held_write w{who, std::move(c)};
    for (const segment &s : w.write.data)
        w.total += s.size;
    if (!w.write.nonblocking)
        return writers_.push_back(std::move(w));
    // A write that must not wait takes what fits, and only while no other
    // write has the port.
    if (!port_free())
        return watch_.answer(who, 0, EAGAIN);
    if (take_from(w, t))
        return;
    watch_.answer(who, static_cast<long long>(w.done), w.done == 0 ? EAGAIN : 0);
}

// The watch sends a poll here only while the line has no room.
void port::on(const call_id &who, calls::wait_for_room &&c, nanos t)
{
    c.wait.watch_others();
    if (c.wait.deadline() <= t || c.wait.others_ready()) {
        int err = 0;
        const nanos count = c.wait.write_outcome(false, t, err);
        return watch_.answer(who, count, err);
    }
    polls_.push_back({who, std::move(c.wait)});
}

void port::on(const call_id &who, calls::open_line && /*c*/, nanos t)
{
    // A close the panel did not see may have let the line go just before.
    hear(watch_.news(), t);
    if (closing())
        return opens_.push_back(who);
    let_open(who);
}

// An open of the line goes on: the serial core raises the modem lines.
void port::let_open(const call_id &who)
{
    line_opened();
    watch_.open_goes_on(who);
}

void port::on(const call_id &who, calls::last_close && /*c*/, nanos t)
{
    begin_close(who, t);
}

// A last close: the port shuts once its output has left, or its closing
// wait is over. A port whose output is suspended is not waited for: the
// serial core drops what it holds. who is nobody where the panel did not
// see the close.
void port::begin_close(const call_id &who, nanos t)
{
    if (wire_.suspended())
        discard(t);
    const nanos wait = serial_.closing_wait();
    drains_.push_back({{who, calls::last_close{}}, wait == NEVER ? NEVER : t + wait});
}

// What the kernel says others did to the line. A program the panel does not
// watch that has the line open may change it at any moment: from now on
// the settings are what the line really reports, and unknown. A last close
// the panel could not see shuts the port as a seen one does.
void port::hear(const line_news &news, nanos t)
{
    if (news.stirred || watch_.line_open())
        let_go_ = false; // what was written to it is to be taken
    if (news.outsider && !blind_) {
        out_.unseen("a program the panel does not watch has the line open");
        follow_line(t);
    }
    if (news.unseen_last_close && models_flow_ && !closing() && wire_.idle_at() > t)
        begin_close({}, t);
}

// Takes as much of a write as the transmit buffer has room for at t,
// through output processing: room that the wire frees later waits for the
// next turn, so a write that has filled the buffer sleeps. Its bytes are
// read out of the program a chunk at a time, and the call checked to be
// still waiting after each read. Returns true once the write is answered
// (all taken, or its memory could not be read) or its program has gone.
bool port::take_from(held_write &w, nanos t)
{
    std::vector<std::uint8_t> out;
    wire_.advance(t);
    while (w.done < w.total && wire_.room() > 0) {
        if (w.chunk_at == w.chunk_size) {
            if (fetch(w) != 0)
                return answer_bad_write(w);
            if (!watch_.valid(w.who))
                return true;
        }
        out.clear();
        const std::span<const std::uint8_t> in(w.chunk.data() + w.chunk_at,
                                               w.chunk_size - w.chunk_at);
        const std::size_t used = output_.process(in, wire_.room(), wire_.settings(), out);
        to_wire(out, t);
        w.done += used;
        w.chunk_at += used;
        if (used == 0)
            break; // a character that needs more room than there is
    }
    if (w.done < w.total)
        return false;
    watch_.answer(w.who, static_cast<long long>(w.done));
    return true;
}

// The write's next chunk, read whole out of the program: a write whose
// memory goes bad part way takes the chunks before, as the line discipline
// does, and fails with EFAULT when there are none. 0, or the errno.
int port::fetch(held_write &w)
{
    w.chunk_size = std::min(WRITE_CHUNK, w.total - w.done);
    w.chunk_at = 0;
    for (std::size_t at = 0; at < w.chunk_size;) {
        const auto [addr, left] = locate(w.write.data, w.done + at);
        const std::size_t n = std::min(w.chunk_size - at, left);
        if (const int err = read_memory(w.who.pid, addr, w.chunk.data() + at, n); err != 0)
            return err;
        at += n;
    }
    return 0;
}

// A write whose memory cannot be read: what it sent, or EFAULT. Returns true.
bool port::answer_bad_write(const held_write &w)
{
    if (watch_.valid(w.who))
        watch_.answer(w.who, static_cast<long long>(w.done), w.done == 0 ? EFAULT : 0);
    return true;
}

void port::discard(nanos t)
{
    const std::size_t dropped = wire_.discard(t);
    dropped_ += dropped;
    out_.dropped(dropped, t, wire_.settings());
}

void port::release_due(nanos t)
{
    wire_.advance(t);
    if (breaking_ && !wire_.breaking()) {
        watch_.go_on(*breaking_);
        breaking_.reset();
    }
    release_drains(t);
    release_writers(t);
    release_polls(t);
    release_modem_waits();
    if (!closing()) {
        for (const call_id &who : opens_)
            let_open(who);
        opens_.clear();
    }
}

void port::release_drains(nanos t)
{
    const bool quiet = wire_.idle_at() <= t;
    std::vector<drain_wait> waiting;
    for (drain_wait &d : drains_) {
        // A break waits its turn behind one under way: it needs the port.
        const bool turn = !std::holds_alternative<calls::send_break>(d.call.what) || !breaking_;
        if (turn && (quiet || d.give_up <= t))
            complete_drain(d, quiet, t);
        else
            waiting.push_back(std::move(d));
    }
    drains_ = std::move(waiting);
}

// The output has left (quiet), or a last close's wait is over: what waited
// for it is done, and the call goes on.
void port::complete_drain(drain_wait &d, bool quiet, nanos t)
{
    if (const auto *s = std::get_if<calls::set_settings>(&d.call.what))
        return apply(d.call.who, *s, t);
    if (const auto *b = std::get_if<calls::send_break>(&d.call.what)) {
        wire_.break_on(t, b->length);
        breaking_ = d.call.who;
        return;
    }
    if (std::holds_alternative<calls::last_close>(d.call.what)) {
        // After the closing wait the port is shut down with what it still
        // holds; the next open finds it afresh.
        if (!quiet)
            discard(t);
        wire_.break_off(t);
        wire_.resume(t);
        line_closed();
        if (d.call.who.id != 0)
            watch_.close_goes_on(d.call.who);
        return;
    }
    watch_.go_on(d.call.who);
}

// The write that has the port takes what fits; once it has filled the
// buffer it sleeps until fewer than WAKEUP_CHARS bytes wait, as the line
// discipline's writer does.
void port::release_writers(nanos t)
{
    while (!writers_.empty() && !breaking_) {
        held_write &w = writers_.front();
        if (w.waits_for_room && wire_.writable_at() > t)
            return;
        w.waits_for_room = true;
        if (!take_from(w, t))
            return;
        writers_.pop_front();
    }
}

void port::release_polls(nanos t)
{
    const bool writable = wire_.writable() && port_free();
    for (auto it = polls_.begin(); it != polls_.end();) {
        if (writable || it->wait.deadline() <= t || it->wait.others_ready()) {
            int err = 0;
            const nanos count = it->wait.write_outcome(writable, t, err);
            watch_.answer(it->who, count, err);
            it = polls_.erase(it);
        } else {
            ++it;
        }
    }
}

nanos port::next_due(nanos t) const
{
    nanos next = NEVER;
    const auto due = [&](nanos at) { next = std::min(next, std::max(at, t)); };
    if (wire_.queued() > 0)
        due(std::min(wire_.idle_at(), t + REPORT_EVERY_NS));
    if (!drains_.empty())
        due(wire_.idle_at());
    for (const drain_wait &d : drains_)
        due(d.give_up);
    if (breaking_)
        due(wire_.break_until());
    due(wire_.break_starts_at()); // the line goes low: the controller starts to sample it

    if (port_free() && !polls_.empty())
        due(wire_.writable_at());
    if (!writers_.empty() && !breaking_)
        due(writers_.front().waits_for_room ? wire_.writable_at() : t);
    for (const held_poll &p : polls_)
        due(p.wait.deadline());
    if (!has_room())
        due(wire_.writable_at());
    return next;
}

void port::waited_on(std::vector<pollfd> &fds) const
{
    for (const held_poll &p : polls_)
        fds.insert(fds.end(), p.wait.others().begin(), p.wait.others().end());
}

void port::release_all(nanos t)
{
    for (const drain_wait &d : drains_) {
        if (d.call.who.id == 0)
            continue;
        if (std::holds_alternative<calls::last_close>(d.call.what))
            watch_.close_goes_on(d.call.who);
        else
            watch_.go_on(d.call.who);
    }
    drains_.clear();
    if (breaking_) {
        watch_.go_on(*breaking_);
        breaking_.reset();
    }
    for (const held_write &w : writers_)
        watch_.answer(w.who, static_cast<long long>(w.done), w.done == 0 ? EINTR : 0);
    writers_.clear();
    for (held_poll &p : polls_) {
        int err = 0;
        const nanos count = p.wait.write_outcome(wire_.writable(), t, err);
        watch_.answer(p.who, count, err);
    }
    polls_.clear();
    for (const call_id &who : opens_)
        let_open(who);
    opens_.clear();
    for (const held_modem_wait &w : modem_waits_)
        watch_.go_on(w.who);
    modem_waits_.clear();
    models_flow_ = false;
}

void port::end_run(bool by_force, nanos t)
{
    release_all(t);
    if (by_force) {
        (void)take_in_until_full(t);
        const std::size_t dropped = wire_.discard(t) + drop_unread();
        out_.dropped(dropped, t, wire_.settings(), frame_monitor::run_ended);
    } else {
        run_out(t);
    }
    const nanos end = std::max(t, wire_.idle_at());
    wire_.break_off(end);
    wire_.advance(end);
}

// Everything still in the pseudo-terminal is taken in as the buffer makes
// room for it, at the times it would; what a suspended port holds never
// leaves, and is reported as dropped.
void port::run_out(nanos t)
{
    nanos at = t;
    while (take_in_until_full(at) && !wire_.suspended())
        at = std::max(at, wire_.writable_at());
    if (wire_.suspended()) {
        const std::size_t dropped = wire_.discard(at) + drop_unread();
        out_.dropped(dropped, at, wire_.settings());
    }
}

// Where the settings were not seen, the speed, stop bits and flags are
// what the line reports; the size and parity stay unknown.
void port::follow_line(nanos t)
{
    line_settings s = read_settings(line_.master());
    s.known = false;
    set_wire(s, t);
}

void port::check_line(nanos t)
{
    if (blind_)
        return;
    const tty_record now = read_record(line_.master());
    if (now == expected_)
        return;
    expected_ = now;
    out_.unseen("the line's settings were changed by a program the panel does not watch");
    follow_line(t);
}

// From now on the settings are not known.
void port::unseen(const std::string &why, nanos t)
{
    out_.unseen(why);
    line_settings s = asked_;
    s.known = false;
    set_wire(s, t);
}
