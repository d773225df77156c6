// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "listening.h"

#include "clock.h"
#include "ending.h"
#include "report.h"
#include "serial_line.h"
#include "vcd.h"
#include "verdicts.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace
{

// How a run ends.
enum class why_ended { interrupted, port_gone, reader_gone };

// The run's parts, and its clock: times count from the run's start.
struct listening_run {
    serial_line &port;
    verdicts &out;
    nanos start_ns;
    [[nodiscard]] nanos now() const { return clock_ns(CLOCK_MONOTONIC) - start_ns; }
};

// What arrived, placed and judged; what the driver counted lost cuts the
// frame under way. False once the port went away.
bool take(listening_run &run)
{
    const nanos t = run.now();
    std::vector<sent_byte> got;
    const bool alive = run.port.read(t, got);
    if (const std::size_t lost = run.port.lost(); lost > 0)
        run.out.dropped(lost, t, line_settings{}, frame_monitor::overrun);
    for (const sent_byte &b : got)
        run.out.received(b);
    return alive;
}

why_ended signalled(int sigfd)
{
    signalfd_siginfo si{};
    if (read(sigfd, &si, sizeof si) != sizeof si)
        return why_ended::interrupted;
    return si.ssi_signo == SIGPIPE ? why_ended::reader_gone : why_ended::interrupted;
}

// Takes what the port delivers until the run ends; frames end by time.
why_ended listen(listening_run &run, int sigfd, bool piped)
{
    for (;;) {
        const nanos t = run.now();
        run.out.quiet(t);
        if (fflush(stdout) != 0 && errno == EPIPE)
            return why_ended::reader_gone;
        const nanos due = run.out.next_due();
        const timespec wait = to_timespec(due == NEVER ? 0 : std::max<nanos>(due - t, 0));
        pollfd fds[3] = {
            {run.port.fd(), POLLIN, 0}, {sigfd, POLLIN, 0}, {piped ? STDOUT_FILENO : -1, 0, 0}};
        if (ppoll(fds, 3, due == NEVER ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
            return why_ended::port_gone;
        if (fds[0].revents != 0 && !take(run))
            return why_ended::port_gone;
        if ((fds[1].revents & POLLIN) != 0)
            return signalled(sigfd);
        if (reader_gone(fds[2]))
            return why_ended::reader_gone;
    }
}

// A run that ends before it listens: its JSON stream still ends with a summary.
int refused(const options &o, const char *what, const std::string &why)
{
    fprintf(stderr, "panelsim: %s %s: %s\n", what, o.listen.c_str(), why.c_str());
    if (o.json)
        reporter(stdout, true, 0).summary();
    return 2;
}

} // namespace

int listen_on(const options &o)
{
    serial_line port;
    std::string why;
    if (!port.open(o.listen, why))
        return refused(o, "cannot listen on", why);
    vcd_writer vcd;
    if (!o.vcd.empty() && !vcd.open(o.vcd))
        return refused(o, "cannot write the dump of", strerror(errno));
    if (!port.low_latency())
        fprintf(stderr,
                "panelsim: %s: its driver takes no low latency: what it receives may reach "
                "the panel in bursts\n",
                o.listen.c_str());
    const int sigfd = signals_as_data(false);
    fprintf(stderr, "panelsim: listening on %s\n", o.listen.c_str());
    const nanos start_ns = clock_ns(CLOCK_MONOTONIC);
    reporter out(stdout, o.json, start_ns);
    verdicts judged(out, vcd);
    listening_run run{port, judged, start_ns};
    const why_ended end = listen(run, sigfd, piped_out());
    if (end == why_ended::port_gone)
        fprintf(stderr, "panelsim: %s went away: the reports so far stand\n", o.listen.c_str());
    judged.close(run.now());
    port.restore();
    if (end == why_ended::reader_gone)
        return end_by(SIGPIPE);
    return end == why_ended::port_gone ? 2 : out.flagged() ? 1 : 0;
}
