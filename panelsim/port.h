// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// port: the serial port as the programs' calls meet it: the UART's transmit
// side (wire), the line discipline's output processing, and every call that
// waits on them.
//
// Principles:
//  - Each watched call is answered at once or held, as the UART's driver
//    would make its caller wait (calls.h has the table): a drain, a change
//    that waits for the output, a program's last close (for at most the
//    port's closing wait, 30 s unless TIOCSSERIAL changed it; a port whose
//    output was suspended drops what it holds instead), a break (the
//    drain, then the break itself), a write while the transmit buffer is
//    full (only one write at a time has the port: the others wait behind
//    it, or fail with EAGAIN when they must not wait), a poll or select for
//    room, an open of the line while its last close is under way, and a
//    TIOCMIWAIT until an input it waits for changes.
//  - The UART's driver is answered for (modem.h, serial_info.h): the
//    modem-control lines, the interrupt counters, whether the transmitter
//    is empty, and the driver's setup of the port, whose speed aliases
//    change the speed the wire sends at.
//  - Time is given, once per turn: every step of a turn sees the same time.
//    Times are nanoseconds on the monotonic clock since the panel started.
//  - Nothing a write was told was taken is ever dropped unseen: what leaves
//    is told to the verdicts, and so is what a flush or a forced end drops.
//  - Where the settings are not seen (no command, a blind call, a program
//    the panel does not watch has the line open or has changed it), the
//    speed, stop bits and flags are taken from the line, and the verdicts
//    say the settings are unknown. The panel makes the watched programs'
//    changes on the pseudo-terminal itself, so any other change of it is
//    someone else's, and is seen.
//  - A last close the panel could not see (an io_uring close, a program
//    killed by a signal) still shuts the port only once its output has
//    left: opens of the line wait for it, and no later opener's change
//    reaches the bytes queued before it.
//
// port::view          what the watch needs of the port to decode a call
// port::take_in       what programs wrote to the pseudo-terminal without being seen
// port::hear          the kernel's news of what others did to the line
// port::check_line    whether someone else changed the pseudo-terminal's settings
// port::handle        one decoded call: answered now, or held
// port::release_due   lets go every held call that is due by a time
// port::next_due      when the next held call is due; NEVER when none is
// port::release_all   every held call goes on, and none is held from then on
// port::end_run       once no program is left: everything written leaves, or a forced end drops it
#ifndef PORT_H
#define PORT_H

#include "calls.h"
#include "clock.h"
#include "modem.h"
#include "output.h"
#include "pty_line.h"
#include "serial_info.h"
#include "tty_abi.h"
#include "verdicts.h"
#include "watch.h"
#include "wire.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <poll.h>
#include <span>
#include <vector>

struct port_options {
    wire_options wire;
    bool blind = false; // nothing is watched: no settings are known
};

class port
{
  public:
    port(pty_line &line, line_watch &watch, verdicts &out, const port_options &options);

    [[nodiscard]] port_view view(nanos t) const;
    void take_in(nanos t);
    void hear(const line_news &news, nanos t);
    // A change of the pseudo-terminal's settings the panel did not make is
    // someone else's: from then on the settings are what the line reports.
    void check_line(nanos t);
    // Whether what the pseudo-terminal holds is taken now: as the serial
    // core wakes its writer, once fewer than WAKEUP_CHARS bytes wait.
    [[nodiscard]] bool has_room() const { return wire_.writable(); }
    // Whether to wait for what the pseudo-terminal holds: while there is
    // room, and the line is open or still holds something.
    [[nodiscard]] bool wants_input() const { return has_room() && !let_go_; }
    void handle(line_call &&call, nanos t);
    void release_due(nanos t);
    [[nodiscard]] nanos next_due(nanos t) const;
    // The descriptors that held polls wait on, appended to fds.
    void waited_on(std::vector<pollfd> &fds) const;
    void release_all(nanos t);
    // by_force: the programs were killed; what was still to leave is
    // reported as cut short by the end of the run.
    void end_run(bool by_force, nanos t);
    // When the line falls quiet with everything sent.
    [[nodiscard]] nanos idle_at() const { return wire_.idle_at(); }

  private:
    // A call that waits for the line to fall quiet.
    struct drain_wait {
        line_call call;
        nanos give_up = NEVER; // a last close's closing wait
    };
    // The line discipline copies a write in chunks of this many bytes, each
    // whole or not at all.
    static constexpr std::size_t WRITE_CHUNK = 2048;
    struct held_write {
        call_id who;
        calls::write_bytes write;
        std::size_t total = 0;
        std::size_t done = 0;
        std::array<std::uint8_t, WRITE_CHUNK> chunk{}; // read from the program
        std::size_t chunk_size = 0;
        std::size_t chunk_at = 0;    // how much of the chunk was taken
        bool waits_for_room = false; // it filled the buffer: it wakes at writable_at
    };
    struct held_poll {
        call_id who;
        held_wait wait;
    };

    // One for each kind of call.
    void on(const call_id &who, calls::passes &&c, nanos t);
    void on(const call_id &who, calls::gone &&c, nanos t);
    void on(const call_id &who, calls::blind &&c, nanos t);
    void on(const call_id &who, calls::set_settings &&c, nanos t);
    void on(const call_id &who, calls::drain &&c, nanos t);
    void on(const call_id &who, calls::send_break &&c, nanos t);
    void on(const call_id &who, calls::break_on &&c, nanos t);
    void on(const call_id &who, calls::break_off &&c, nanos t);
    void on(const call_id &who, calls::flush_output &&c, nanos t);
    void on(const call_id &who, calls::flow_request &&c, nanos t);
    void on(const call_id &who, calls::ask_queued &&c, nanos t);
    void on(const call_id &who, calls::ask_settings &&c, nanos t);
    void on(const call_id &who, calls::write_bytes &&c, nanos t);
    void on(const call_id &who, calls::wait_for_room &&c, nanos t);
    void on(const call_id &who, calls::open_line &&c, nanos t);
    void on(const call_id &who, calls::last_close &&c, nanos t);
    void on(const call_id &who, calls::refuse &&c, nanos t);
    void on(const call_id &who, calls::ask_modem &&c, nanos t);
    void on(const call_id &who, calls::set_modem &&c, nanos t);
    void on(const call_id &who, calls::wait_modem &&c, nanos t);
    void on(const call_id &who, calls::ask_counts &&c, nanos t);
    void on(const call_id &who, calls::ask_lsr &&c, nanos t);
    void on(const call_id &who, calls::ask_serial &&c, nanos t);
    void on(const call_id &who, calls::set_serial &&c, nanos t);

    bool take_in_until_full(nanos t);
    [[nodiscard]] std::size_t drop_unread();
    void run_out(nanos t);
    [[nodiscard]] bool take_from(held_write &w, nanos t);
    [[nodiscard]] static int fetch(held_write &w);
    bool answer_bad_write(const held_write &w);
    void apply(const call_id &who, const calls::set_settings &c, nanos t);
    void begin_close(const call_id &who, nanos t);
    void let_open(const call_id &who);
    void complete_drain(drain_wait &d, bool quiet, nanos t);
    void release_drains(nanos t);
    void release_writers(nanos t);
    void release_polls(nanos t);
    void discard(nanos t);
    [[nodiscard]] bool closing() const;
    [[nodiscard]] bool port_free() const { return writers_.empty() && !breaking_; }
    void follow_line(nanos t);
    void unseen(const std::string &why, nanos t);
    // The settings a program asked for take effect, at the speed the UART sends at.
    void set_wire(const line_settings &s, nanos t);
    [[nodiscard]] line_settings on_wire(const line_settings &s) const;
    void to_wire(std::span<const std::uint8_t> bytes, nanos t);
    // The line was opened, or its last close is done: the modem lines follow.
    void line_opened();
    void line_closed();
    void in_use();
    [[nodiscard]] std::size_t sent_count() const;
    [[nodiscard]] bool transmitter_empty(nanos t) const;
    void answer_word(const call_id &who, std::uint64_t addr, unsigned value);
    void release_modem_waits();

    pty_line &line_;
    line_watch &watch_;
    verdicts &out_;
    wire wire_;
    output_processor output_;
    bool models_flow_; // calls are held as the UART would hold them
    bool blind_;
    tty_record expected_; // the pseudo-terminal's settings, as the panel last made or saw them
    bool let_go_ = false; // nobody has the line open, and it holds nothing more
    std::vector<drain_wait> drains_;
    std::optional<call_id> breaking_; // a tcsendbreak, until its break ends
    std::deque<held_write> writers_;
    std::vector<held_poll> polls_;
    std::vector<call_id> opens_;

    // A TIOCMIWAIT, and the inputs' counts when it began.
    struct held_modem_wait {
        call_id who;
        unsigned mask;
        line_counts from;
    };
    line_settings asked_; // what programs set the line to; the wire sends at serial_'s speed
    modem_lines modem_;
    serial_port serial_;
    std::size_t taken_ = 0;   // characters the UART was given
    std::size_t dropped_ = 0; // and of them, dropped before they left
    std::vector<held_modem_wait> modem_waits_;
};

#endif
