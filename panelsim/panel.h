// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panel: one run of the virtual panel: the line as a UART sends it, the
// programs' calls on it, and the reports.
//
// Each watched call is answered at once or held, as the UART's driver would
// make its caller wait: a drain, a change that waits for the output, a
// program's last close (for at most the port's closing wait of 30 s; a port
// whose output was suspended drops what it holds instead), a tcsendbreak
// (the drain, then the break; not TIOCSBRK), a write while the buffer is full
// (only one write at a time has the port: the others wait behind it, or fail
// with EAGAIN when they must not wait; one whose memory goes bad part way
// takes the whole chunks of 2048 bytes before it, as the line discipline
// copies them), a poll or select for room, and an
// open of the line while its last close is under way. Times are nanoseconds
// on the monotonic clock since the panel started.
//
// A request for the settings gets what the line was set to, as a UART keeps
// it, not the 8 bits without parity a pseudo-terminal holds to.
//
// Where the settings are not seen (no command, a blind call), the speed,
// stop bits and flags are taken from the line and the frames are flagged
// "settings unknown".
//
// panel::take_in    what programs wrote to the pseudo-terminal without being seen
// panel::handle     one watched call: answered now, or held
// panel::release    lets go what is due by now
// panel::next_due   how long until something is due; NEVER when nothing is
// panel::let_go     every held call goes on, and none is held from now on
// panel::finish     everything written leaves, or is cut short by a forced end; the summary
#ifndef PANEL_H
#define PANEL_H

#include "frames.h"
#include "output.h"
#include "poll_wait.h"
#include "pty_line.h"
#include "report.h"
#include "vcd.h"
#include "watch.h"
#include "wire.h"

#include <deque>
#include <optional>
#include <poll.h>
#include <vector>

struct panel_options {
    wire_options wire;
    bool blind = false; // nothing is watched: no settings are known
    nanos start_ns = 0; // the panel's start on the monotonic clock
};

class panel final : line_listener
{
  public:
    panel(pty_line &line, line_watch &watch, reporter &out, vcd_writer &vcd,
          const panel_options &options);

    [[nodiscard]] nanos now() const;

    void take_in();
    // Whether what the pseudo-terminal holds is taken now: as the serial
    // core wakes its writer, once fewer than WAKEUP_CHARS bytes wait.
    [[nodiscard]] bool has_room() const { return wire_.writable(); }
    void handle(line_call &call);
    void release();
    // Nanoseconds until the next thing is due, or NEVER when nothing is.
    [[nodiscard]] nanos next_due() const;
    // The descriptors that held polls wait on, appended to fds.
    void waited_on(std::vector<pollfd> &fds) const;
    void let_go();
    // Once no program is left on the line. Every byte a write was told was
    // taken leaves at its time; a run ended by force (the programs killed)
    // reports what was still to leave as cut short by the end of the run.
    void finish(bool by_force);

    [[nodiscard]] const line_settings &settings() const { return wire_.settings(); }
    // Whether opens of the line wait now: a last close is under way.
    [[nodiscard]] bool closing() const;

  private:
    // A call that waits for the line to fall quiet.
    struct drain_wait {
        line_call call;
        nanos give_up = NEVER; // a last close's closing wait
    };
    struct held_write {
        line_call call;
        std::size_t total = 0;
        std::size_t done = 0;
        std::size_t checked = 0; // the bytes before this are known to be readable
        bool tried = false;
    };

    void sent(const sent_byte &b) override;
    void went_low(nanos start_ns, const line_settings &s) override;
    void broke(const line_break &b) override;

    // Takes in what the pseudo-terminal holds at t while there is room;
    // true when the buffer filled before it was empty.
    bool take_in_at(nanos t);
    [[nodiscard]] std::size_t drop_unread();
    void run_out();
    void answer_flow(const line_call &call);
    void answer_outq(const line_call &call);
    void answer_get(const line_call &call);
    void start_write(line_call &call);
    void start_wait(const line_call &call);
    void start_last_close(const line_call &call);
    [[nodiscard]] bool feed(held_write &w);
    bool answer_bad_write(const held_write &w);
    void end_drain(const drain_wait &d, bool quiet);
    void release_drains();
    void release_writers();
    void release_waits();
    void discard();
    [[nodiscard]] bool port_free() const { return writers_.empty() && !breaking_; }

    void follow_line(nanos t);
    void say_unknown(const std::string &why);
    void unknown(const std::string &why);
    void print(const std::vector<line_report> &reports);

    pty_line &line_;
    line_watch &watch_;
    reporter &out_;
    vcd_writer &vcd_;
    nanos start_;
    frame_monitor monitor_;
    wire wire_;
    output_processor output_;
    bool holds_;
    bool blind_;
    bool said_unknown_ = false;
    std::vector<drain_wait> drains_;
    std::optional<line_call> breaking_; // a tcsendbreak, until its break ends
    std::deque<held_write> writers_;
    std::vector<held_wait> waits_;
    std::vector<line_call> opens_;
};

#endif
