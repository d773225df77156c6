// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The port's answers to what programs ask of the UART's driver beyond the
// terminal's settings: the modem-control lines and the waits on them, the
// interrupt counters, the line status, the driver's setup of the port; and
// the settings as the UART sends them.
#include "port.h"

#include "procs.h"
#include "tty_abi.h"

#include <cerrno>
#include <climits>
#include <vector>

void port::set_wire(const line_settings &s, nanos t)
{
    modem_.settings_changed(asked_, s);
    asked_ = s;
    wire_.change(on_wire(s), t);
}

// The spd_* aliases and the custom divisor reach the wire: the reports say
// the speed the controller sees.
line_settings port::on_wire(const line_settings &s) const
{
    line_settings w = s;
    w.baud = serial_.wire_speed(s.baud);
    return w;
}

void port::to_wire(std::span<const std::uint8_t> bytes, nanos t)
{
    taken_ += wire_.take(bytes, t);
}

void port::line_opened()
{
    modem_.opened(asked_);
}

void port::line_closed()
{
    modem_.closed(asked_);
}

// A request a program makes on the line: it holds the line open, whether
// its open was seen or not.
void port::in_use()
{
    if (!modem_.is_open())
        line_opened();
}

// Every character the UART was given and has begun to send: a
// flow-control character and a byte shifted out into a break count too.
std::size_t port::sent_count() const
{
    return taken_ - dropped_ - wire_.queued() - (wire_.flow_char_pending() ? 1 : 0);
}

// As the serial core reckons it: nothing on the wire, no flow-control
// character to send, and nothing queued that may leave; what suspended
// output holds back does not count.
bool port::transmitter_empty(nanos t) const
{
    return wire_.line_free_at() <= t && !wire_.flow_char_pending() &&
           (wire_.queued() == 0 || wire_.suspended());
}

// The word a request fills in; EFAULT where it cannot be written.
void port::answer_word(const call_id &who, std::uint64_t addr, unsigned value)
{
    const int err = write_memory(who.pid, addr, &value, sizeof value);
    watch_.answer(who, 0, err != 0 ? EFAULT : 0);
}

void port::release_modem_waits()
{
    std::erase_if(modem_waits_, [&](const held_modem_wait &w) {
        if (!modem_lines::changed(w.from, modem_.counts(), w.mask))
            return false;
        watch_.answer(w.who, 0);
        return true;
    });
}

void port::on(const call_id &who, calls::refuse &&c, nanos /*t*/)
{
    watch_.answer(who, 0, c.err);
}

void port::on(const call_id &who, calls::ask_modem &&c, nanos /*t*/)
{
    in_use();
    answer_word(who, c.addr, modem_.state());
}

// The change shows in the inputs in loopback, and may end a TIOCMIWAIT:
// release_due sees to that.
void port::on(const call_id &who, calls::set_modem &&c, nanos /*t*/)
{
    in_use();
    modem_.change(c.set, c.clear);
    watch_.answer(who, 0);
}

void port::on(const call_id &who, calls::wait_modem &&c, nanos /*t*/)
{
    in_use();
    modem_waits_.push_back({who, c.mask, modem_.counts()});
    modem_.watch();
}

void port::on(const call_id &who, calls::ask_counts &&c, nanos /*t*/)
{
    in_use();
    line_counts now = modem_.counts();
    // The driver counts in an unsigned word and reports an int.
    now.tx = static_cast<int>(static_cast<unsigned>(sent_count() & UINT_MAX));
    unsigned char record[COUNTS_RECORD_SIZE];
    put_line_counts(now, record);
    const int err = write_memory(who.pid, c.addr, record, sizeof record);
    watch_.answer(who, 0, err != 0 ? EFAULT : 0);
}

void port::on(const call_id &who, calls::ask_lsr &&c, nanos t)
{
    answer_word(who, c.addr, transmitter_empty(t) ? TTY_TRANSMITTER_EMPTY : 0);
}

void port::on(const call_id &who, calls::ask_serial &&c, nanos /*t*/)
{
    unsigned char record[LARGEST_SERIAL_RECORD];
    put_serial_record(serial_.report(), record, c.layout);
    const int err = write_memory(who.pid, c.addr, record, serial_record_size(c.layout));
    watch_.answer(who, 0, err != 0 ? EFAULT : 0);
}

// A change the panel cannot make goes on to the pseudo-terminal, which
// refuses it; one of the speed aliases or the divisor reprograms the speed
// at once, under whatever is queued.
void port::on(const call_id &who, calls::set_serial &&c, nanos t)
{
    const serial_outcome o = serial_.change(c.asked, c.privileged);
    if (o.kind == serial_outcome::not_modelled)
        return watch_.go_on(who);
    if (o.speed_changed) {
        in_use();
        wire_.change(on_wire(asked_), t);
    }
    watch_.answer(who, 0, o.err);
}
