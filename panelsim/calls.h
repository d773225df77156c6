// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// calls: one call a watched program made, as the line sees it, decoded whole.
//
// The watch hands the port a line_call for every call it was handed: who
// made it, so that it can be answered, and one value of a kind of its own
// with all the port needs, read out of the program already (a write's
// buffers, the settings a record asks for, a poll's descriptor sets and its
// deadline). Whether a call concerns the line is decided before it comes
// here: a call that does not is `passes`.
//
// What the port does with each kind, and which it may hold: only a port that
// models the UART's flow holds anything. Without that (--at-arrival, or no
// settings seen), the kinds marked "flow" go on untouched.
//
//   kind            the port                                        flow
//   passes          lets it go on
//   gone            drops it: the program went on or died
//   blind           flags the settings unknown, lets it go on
//   set_settings    applies them, to the pseudo-terminal too, and
//                   answers; drain_first: holds it until the output
//                   has left
//   drain           holds it until the output has left              yes
//   send_break      holds it for the drain, then the break
//   break_on        holds the line low at once
//   break_off       ends the break
//   flush_output    drops what waits to be sent
//   flow_request    suspends or resumes output, or sends STOP/START  yes
//   ask_queued      answers TIOCOUTQ itself                          yes
//   ask_settings    answers with the size and parity it was set to
//   write_bytes     takes what fits, holds the rest of a blocking
//                   write until it fits                              yes
//   wait_for_room   holds a poll or select until the line takes
//                   output, another descriptor is ready, or its time  yes
//   open_line       holds it while a last close is under way, counts it
//   last_close      holds it until the output has left, or for the
//                   port's closing wait                              yes
//   refuse          answers it with an error (a record at a bad address)
//   ask_modem       answers TIOCMGET with the modem-control lines
//   set_modem       changes the outputs (TIOCMSET, TIOCMBIS, TIOCMBIC)
//   wait_modem      holds TIOCMIWAIT until an input it names changes
//                                                                    yes
//   ask_counts      answers TIOCGICOUNT with the interrupt counters
//   ask_lsr         answers TIOCSERGETLSR: whether the transmitter is empty
//   ask_serial      answers TIOCGSERIAL with the driver's setup
//   set_serial      changes the driver's setup, refuses, or lets it go on
//
// is_flow  whether a kind is marked "flow" above
#ifndef CALLS_H
#define CALLS_H

#include "abi.h"
#include "clock.h"
#include "poll_wait.h"
#include "serial_abi.h"
#include "settings.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace calls
{

struct passes {
};
struct gone {
};
struct blind {
    std::string why;
};
struct set_settings {
    line_settings settings;
    bool drain_first = false; // TCSETSW, TCSETSF and their kin
    std::string why;          // where the settings are not known
    // The request and its record, as read from the program, for the panel
    // to make on the pseudo-terminal itself; no record: the kernel makes it.
    unsigned request = 0;
    std::vector<unsigned char> record;
};
struct drain {
};
struct send_break {
    nanos length = 0;
};
struct break_on {
};
struct break_off {
};
struct flush_output {
};
struct flow_request {
    long action = 0; // TTY_OOFF, TTY_OON, TTY_IOFF or TTY_ION
};
struct ask_queued {
    std::uint64_t addr = 0; // where the count goes
};
struct ask_settings {
    unsigned request = 0;   // TCGETS, TCGETS2 or TCGETA
    std::uint64_t addr = 0; // where the record goes
};
struct write_bytes {
    std::vector<segment> data;
    bool nonblocking = false;
};
struct wait_for_room {
    held_wait wait;
};
struct open_line {
};
struct last_close {
};
struct refuse {
    int err = 0;
};
struct ask_modem {
    std::uint64_t addr = 0; // where the lines go
};
struct set_modem {
    unsigned set = 0; // the TIOCM_ outputs raised
    unsigned clear = 0;
};
struct wait_modem {
    unsigned mask = 0; // the TIOCM_ inputs waited for
};
struct ask_counts {
    std::uint64_t addr = 0;
};
struct ask_lsr {
    std::uint64_t addr = 0;
};
struct ask_serial {
    std::uint64_t addr = 0;
    record_layout layout; // the caller's
};
struct set_serial {
    serial_record asked;
    bool privileged = false; // CAP_SYS_ADMIN in the initial user namespace
};

} // namespace calls

using call_kind =
    std::variant<calls::passes, calls::gone, calls::blind, calls::set_settings, calls::drain,
                 calls::send_break, calls::break_on, calls::break_off, calls::flush_output,
                 calls::flow_request, calls::ask_queued, calls::ask_settings, calls::write_bytes,
                 calls::wait_for_room, calls::open_line, calls::last_close, calls::refuse,
                 calls::ask_modem, calls::set_modem, calls::wait_modem, calls::ask_counts,
                 calls::ask_lsr, calls::ask_serial, calls::set_serial>;

// Who made a call: what the port answers it by, and the call's number.
struct call_id {
    std::uint64_t id = 0;
    pid_t pid = 0;
    long nr = -1;
};

struct line_call {
    call_id who;
    call_kind what;
};

template <class Kind> inline constexpr bool is_flow = false;
template <> inline constexpr bool is_flow<calls::drain> = true;
template <> inline constexpr bool is_flow<calls::flow_request> = true;
template <> inline constexpr bool is_flow<calls::ask_queued> = true;
template <> inline constexpr bool is_flow<calls::write_bytes> = true;
template <> inline constexpr bool is_flow<calls::wait_for_room> = true;
template <> inline constexpr bool is_flow<calls::last_close> = true;
template <> inline constexpr bool is_flow<calls::wait_modem> = true;

#endif
