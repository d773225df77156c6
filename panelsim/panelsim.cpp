// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panelsim: a virtual panel. It stands in for the display controller on a
// pseudo-terminal and prints, for every frame that reaches it, the bytes and
// the line settings they came under, flagging what a controller at 19200 8N1
// would not take.
#include "clock.h"
#include "ending.h"
#include "launch.h"
#include "listening.h"
#include "options.h"
#include "port.h"
#include "procs.h"
#include "pty_line.h"
#include "report.h"
#include "vcd.h"
#include "watch.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

// The command, what it started, and how the run ends.
struct run_state {
    pid_t child = -1;    // -1: no command
    int status = 0;      // the command's exit status
    int interrupt = 0;   // the signal the panel ends by, if any
    bool forced = false; // ended at once: whatever still ran was killed
    bool done = false;
};

// Orphans of the command come to us: the run is over once all have ended.
// Takes one child's end; false when none has ended (or, waiting, none is left).
bool reap_one(run_state &r, int options)
{
    int ws = 0;
    const pid_t pid = waitpid(-1, &ws, options);
    if (pid > 0 && pid == r.child) {
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        r.child = 0;
    }
    if (r.child >= 0 && pid < 0 && errno == ECHILD)
        r.done = true;
    return pid > 0;
}

void reap(run_state &r)
{
    while (reap_one(r, WNOHANG)) {
    }
}

// The run ends now, by sig: the command and everything it started are
// killed and reaped first, so that no program is left running under a
// filter that nobody answers any more. What a dying process starts becomes
// ours, and is killed in the next round.
void end_by_force(run_state &r, int sig)
{
    r.interrupt = sig;
    r.forced = true;
    while (r.child >= 0 && !r.done) {
        // The command by the pid it was started with, should the rest not be found.
        if (r.child > 0)
            (void)kill(r.child, SIGKILL);
        for (const pid_t pid : descendants(getpid()))
            (void)kill(pid, SIGKILL);
        (void)reap_one(r, 0);
    }
    r.done = true;
}

// How many times the command's processes are looked for when a signal is
// passed on: a process that was being started as the signal came appears
// only once its parent's fork is done.
constexpr int PASS_ON_ROUNDS = 8;

// The processes started from the panel, looked for twice: a process whose
// parent is ending moves from its parent's children to the panel's, and a
// look that read the panel's before and the parent's after the move misses
// it; the second look, after the move, finds it.
std::vector<pid_t> started_from_panel()
{
    std::vector<pid_t> found = descendants(getpid());
    for (const pid_t pid : descendants(getpid()))
        if (std::find(found.begin(), found.end(), pid) == found.end())
            found.push_back(pid);
    return found;
}

// sig goes to every process started from the panel, and to each that one
// of them started meanwhile, until a round finds none it has not told.
void pass_on(int sig)
{
    std::vector<pid_t> told;
    for (int round = 0; round < PASS_ON_ROUNDS; round++) {
        bool more = false;
        for (const pid_t pid : started_from_panel())
            if (std::find(told.begin(), told.end(), pid) == told.end()) {
                (void)kill(pid, sig);
                told.push_back(pid);
                more = true;
            }
        if (!more)
            return;
    }
}

// SIGINT, SIGTERM or SIGHUP. Without a command it ends the run. With one,
// the command and all it started get it too, unless it came from the
// terminal, which gave it to them already; the line is served as before
// until they have all ended, however they take the signal. A second one, or
// a reader of the reports that went away (SIGPIPE), ends the run at once.
void interrupted(run_state &r, const signalfd_siginfo &si)
{
    const int sig = static_cast<int>(si.ssi_signo);
    if (sig == SIGPIPE || r.interrupt != 0)
        return end_by_force(r, sig);
    if (r.child < 0) {
        r.done = true;
        return;
    }
    r.interrupt = sig;
    if (si.ssi_code == SI_USER || si.ssi_code == SI_QUEUE)
        pass_on(sig);
}

void on_signal(run_state &r, int sigfd)
{
    signalfd_siginfo si{};
    if (read(sigfd, &si, sizeof si) != sizeof si)
        return;
    if (si.ssi_signo == SIGCHLD)
        reap(r);
    else
        interrupted(r, si);
}

// How often the line is looked at while a last close is under way.
constexpr nanos LOOK_AGAIN_NS = NS_PER_MS;

// The panel's parts for one run, and its clock. The loop reads the time once
// a turn and gives it to each part.
struct panel_run {
    const pty_line &line;
    line_watch &watch;
    port &uart;
    verdicts &out;
    nanos start_ns;

    [[nodiscard]] nanos now() const { return clock_ns(CLOCK_MONOTONIC) - start_ns; }
    // How long the loop may sleep: until the port or the verdicts have
    // something due; NEVER when nothing is.
    [[nodiscard]] nanos until_due(nanos t) const
    {
        nanos due = std::min(uart.next_due(t), std::max(out.next_due(), t));
        // A last close gone on is looked after until it is done.
        if (watch.awaits())
            due = std::min(due, t + LOOK_AGAIN_NS);
        return due == NEVER ? NEVER : due - t;
    }
};

// What the kernel says others did to the line comes before the calls made
// after it.
void on_news(panel_run &run)
{
    run.uart.hear(run.watch.news(), run.now());
}

void on_call(panel_run &run)
{
    const nanos t = run.now();
    line_call call;
    if (!run.watch.receive(call, run.uart.view(t)))
        run.watch.stop();
    else if (call.who.id != 0)
        run.uart.handle(std::move(call), t);
}

// What the loop waits for, in the order it serves them: the fixed ones, the
// threads whose descriptors the watch keeps, then what held polls wait on.
enum waited { LINE, SIGNALS, CALLS, READER, NEWS, FIXED };

std::vector<pollfd> waited_for(const panel_run &run, int sigfd, bool piped)
{
    std::vector<pollfd> fds = {{run.uart.wants_input() ? run.line.master() : -1, POLLIN, 0},
                               {sigfd, POLLIN, 0},
                               {run.watch.fd(), POLLIN, 0},
                               {piped ? STDOUT_FILENO : -1, 0, 0},
                               {run.watch.news_fd(), POLLIN, 0}};
    const std::vector<pollfd> &followed = run.watch.followed();
    fds.insert(fds.end(), followed.begin(), followed.end());
    run.uart.waited_on(fds);
    return fds;
}

// One turn's events. What others did to the line, and what was written to
// the pseudo-terminal, come before the call that came after them; the
// line's settings are looked at once.
void serve(panel_run &run, run_state &r, int sigfd, const std::vector<pollfd> &fds)
{
    for (std::size_t i = FIXED; i < FIXED + run.watch.followed().size() && i < fds.size(); i++)
        if (fds[i].revents != 0)
            run.watch.thread_ended(fds[i].fd);
    run.uart.check_line(run.now());
    if (fds[NEWS].revents & POLLIN)
        on_news(run);
    if (fds[LINE].revents & (POLLIN | POLLHUP))
        run.uart.take_in(run.now());
    if (fds[LINE].revents & POLLHUP)
        on_news(run);
    if (fds[CALLS].revents & POLLIN)
        on_call(run);
    else if (fds[CALLS].revents & (POLLHUP | POLLERR | POLLNVAL))
        run.watch.stop();
    if (run.watch.has_news())
        on_news(run);
    if (fds[SIGNALS].revents & POLLIN)
        on_signal(r, sigfd);
    if (reader_gone(fds[READER]))
        end_by_force(r, SIGPIPE);
}

// Watches the line until the command and every process it started have
// ended (or, without one, until we are interrupted); prints every report and
// the summary.
void watch_line(panel_run &run, run_state &r, int sigfd)
{
    const bool piped = piped_out();
    while (!r.done) {
        const nanos t = run.now();
        if (run.watch.awaits())
            on_news(run);
        run.uart.release_due(t);
        run.out.quiet(t);
        // Reports come out whenever the panel has nothing else to do.
        if (fflush(stdout) != 0 && errno == EPIPE)
            end_by_force(r, SIGPIPE);
        const nanos wait = run.until_due(t);
        std::vector<pollfd> fds = waited_for(run, sigfd, piped);
        const timespec timeout = to_timespec(wait);
        if (r.done ||
            (ppoll(fds.data(), fds.size(), wait == NEVER ? nullptr : &timeout, nullptr) < 0 &&
             errno != EINTR))
            break;
        serve(run, r, sigfd, fds);
    }
    run.uart.end_run(r.forced, run.now());
    run.out.close(run.now());
}

// Starts the command, under the watch; returns its pid, or -1 with status set.
pid_t start(const options &o, const pty_line &line, line_watch &watch, int &status)
{
    // Behind an emulated UART nobody is held: the flow of bytes is not watched.
    const launch_result started =
        launch(o.command, line.slave_path(), {o.at_ttys1, !o.at_arrival, o.json});
    if (started.pid < 0) {
        fprintf(stderr, "panelsim: %s\n", started.error.c_str());
        if (started.status == LAUNCH_NO_TTYS1)
            fprintf(stderr,
                    "panelsim: run it as root, or run programs that open %s without "
                    "--dev-ttyS1\n",
                    PANELSIM_LINK);
        status = started.status;
        return -1;
    }
    if (!started.warning.empty())
        fprintf(stderr,
                "panelsim: cannot watch the settings asked for (%s): every frame is flagged "
                "\"settings unknown\"\n",
                started.warning.c_str());
    watch.adopt(started.watch);
    return started.pid;
}

// The exit status: the command's, or 1 where it is 0 but a problem was
// flagged. Ended by a signal, the panel ends as the shell expects: by the
// same signal.
int outcome(const run_state &r, const reporter &out)
{
    if (r.interrupt != 0)
        return end_by(r.interrupt);
    return r.status == 0 && out.flagged() ? 1 : r.status;
}

// Links the line at its path unless the line stands at /dev/ttyS1; says why
// not. Another live panel's path is left alone, its link untouched.
bool link_line(pty_line &line, const options &o)
{
    if (o.at_ttys1 || line.link(o.link))
        return true;
    if (errno == EBUSY && line.holder() > 0)
        fprintf(stderr,
                "panelsim: %s is held by a running panel (pid %ld); stop it or choose another "
                "path with --link\n",
                o.link.c_str(), static_cast<long>(line.holder()));
    else if (errno == EBUSY)
        fprintf(stderr,
                "panelsim: %s is held by a running panel; stop it or choose another path "
                "with --link\n",
                o.link.c_str());
    else if (errno == EEXIST)
        fprintf(stderr,
                "panelsim: %s exists and is not a panel's link; remove it or choose another "
                "with --link\n",
                o.link.c_str());
    else
        fprintf(stderr, "panelsim: cannot link %s: %s\n", o.link.c_str(), strerror(errno));
    return false;
}

// The line, at its path, and its dump; an exit status where the panel
// cannot start, else -1.
int open_line(const options &o, pty_line &line, vcd_writer &vcd)
{
    if (!line.open()) {
        perror("panelsim: openpty");
        return 2;
    }
    if (!link_line(line, o))
        return 2;
    if (!o.vcd.empty() && !vcd.open(o.vcd)) {
        fprintf(stderr, "panelsim: %s: %s\n", o.vcd.c_str(), strerror(errno));
        return 2;
    }
    return -1;
}

// The command, started under the watch, or without one the notice that the
// line is up; an exit status where the command did not start, else -1.
int start_watched(const options &o, const pty_line &line, line_watch &watch, run_state &r,
                  FILE *notices)
{
    if (o.at_arrival)
        fprintf(notices, "panelsim: each byte is judged by the settings in force when it "
                         "arrived; nobody is held\n");
    if (o.command[0] == nullptr) {
        fprintf(notices, "panelsim: the line is at %s; interrupt to stop\n", o.link.c_str());
        fprintf(stderr, "panelsim: without a COMMAND the settings asked for are not seen: every "
                        "frame is flagged \"settings unknown\"\n");
        return -1;
    }
    // The panel looks at its programs through /proc: one of another pid
    // namespace would show it other processes under their pids.
    if (!proc_is_ours()) {
        fprintf(stderr, "panelsim: /proc here is not of the panel's own pid namespace, so it "
                        "cannot see the programs it starts; mount one (unshare --mount-proc "
                        "does)\n");
        return 2;
    }
    // Whatever the command leaves running is ours to wait for.
    (void)prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    int status = 0;
    r.child = start(o, line, watch, status);
    return r.child < 0 ? status : -1;
}

// A run that ends before the line is watched: its JSON stream still ends
// with a summary, so that a reader always finds one.
int ended_early(const options &o, int status)
{
    if (o.json)
        reporter(stdout, true, 0).summary();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed standard descriptor would be taken by the line or the dump,
    // and the reports would go down the line: /dev/null stands in for it.
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
            return 2;

    options o;
    if (const int status = parse(argc, argv, o); status >= 0)
        return status;
    if (!o.listen.empty())
        return listen_on(o);
    // Made before anything else is open: its keeper holds nothing but it.
    const int inotify = kept_inotify();
    // Notices never go among JSON reports.
    FILE *notices = o.json ? stderr : stdout;

    pty_line line;
    vcd_writer vcd;
    if (const int status = open_line(o, line, vcd); status >= 0)
        return ended_early(o, status);
    const int sigfd = signals_as_data(true);

    struct stat st {
    };
    (void)fstat(line.slave(), &st);
    line_watch watch(st.st_rdev);
    // Who has the line open is watched from before the command starts: the
    // panel lets go of the line, so that the kernel says when nobody holds it.
    if (!watch.count_opens(inotify, line.slave_path(), line.master())) {
        perror("panelsim: cannot watch the line's openers (inotify)");
        return ended_early(o, 2);
    }
    line.let_go();
    run_state r;
    if (const int status = start_watched(o, line, watch, r, notices); status >= 0)
        return ended_early(o, status);
    // What is learnt of a descriptor is kept where every call that frees or
    // replaces one is watched: where the flow is.
    watch.keep_descriptors(watch.fd() >= 0 && !o.at_arrival);
    fflush(notices);
    const nanos start_ns = clock_ns(CLOCK_MONOTONIC);
    reporter out(stdout, o.json, start_ns);
    verdicts judged(out, vcd);
    port uart(line, watch, judged, {{o.buffer, o.at_arrival}, watch.fd() < 0});
    panel_run run{line, watch, uart, judged, start_ns};
    watch_line(run, r, sigfd);
    // The link goes now: a panel that ends by a signal runs no destructor.
    line.unlink();
    return outcome(r, out);
}
