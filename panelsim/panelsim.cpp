// SPDX-License-Identifier: MIT
// panelsim: a virtual panel. It stands in for the display controller on a
// pseudo-terminal and prints, for every frame that reaches it, the bytes and
// the line settings they came under, flagging what a controller at 19200 8N1
// would not take.
#include "frames.h"
#include "launch.h"
#include "pty_line.h"
#include "vcd.h"
#include "watch.h"
#include "wire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The installed panel's default line names no build folder; the host build's
// panel defaults to the line its copies of the programs open.
#ifndef PANELSIM_LINK
#define PANELSIM_LINK "/tmp/panelsim-ttyS1"
#endif

namespace
{

void usage(FILE *to)
{
    fprintf(to,
            "usage: panelsim [-l PATH | -d] [-a] [-v FILE] [-- COMMAND [ARGS...]]\n"
            "  -l, --link PATH   put the line at PATH (default %s)\n"
            "  -d, --dev-ttyS1   put the line at /dev/ttyS1 for COMMAND, in a private\n"
            "                    mount namespace (root, or unprivileged user namespaces)\n"
            "  -a, --at-arrival  judge each byte by the settings in force when it arrived,\n"
            "                    for an emulated UART with no transmit time of its own\n"
            "  -v, --vcd FILE    also write the line as a logic analyser records it\n"
            "  -h, --help        show this text\n"
            "Without COMMAND the panel runs until interrupted.\n",
            PANELSIM_LINK);
}

long long clock_ns(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The panel's run: the line as a UART sends it, the programs' calls on it,
// and the reports. Times are nanoseconds on the monotonic clock since the
// panel started; the wall clock gives only the printed time of day.
class panel
{
  public:
    panel(pty_line &line, settings_watch &watch, vcd_writer &vcd, bool at_arrival, bool blind)
        : line_(line), watch_(watch), vcd_(vcd), start_(clock_ns(CLOCK_MONOTONIC)),
          wire_(initial(line, blind), at_arrival), holds_(!at_arrival && !blind), blind_(blind)
    {
    }

    [[nodiscard]] long long now() const { return clock_ns(CLOCK_MONOTONIC) - start_; }

    // Takes in what the programs have written. A read that finds nothing
    // first waits for the pseudo-terminal to pass on what was written
    // before, so after a watched call it has every byte written before it.
    void take_in()
    {
        std::uint8_t buf[4096];
        ssize_t n;
        while ((n = line_.read(buf, 0)) > 0) {
            if (blind_ || !wire_.settings().known)
                follow_line();
            sent(wire_.arrive({buf, static_cast<std::size_t>(n)}, now()));
        }
    }

    // Answers one watched call, now or once the line has sent what is queued.
    void handle(line_call &call)
    {
        take_in();
        switch (call.kind) {
        case line_call::other:
            break;
        case line_call::blind:
            unknown(call.why);
            return watch_.answer(call);
        case line_call::set:
            // Unknown settings take effect when the call does.
            if (!call.settings.known)
                say_unknown(call.why);
            if (call.drain_first && holds_)
                return held_.push_back(call);
            sent(wire_.change(call.settings, now()));
            break;
        case line_call::drain:
        case line_call::last_close:
            if (holds_)
                return held_.push_back(call);
            break;
        case line_call::flush_output:
            // Behind an emulated UART the bytes have already left.
            if (holds_) {
                std::size_t dropped = 0;
                sent(wire_.discard(now(), dropped));
                print(monitor_.cut(dropped, now(), wire_.settings()));
            }
            break;
        }
        watch_.answer(call);
    }

    // Lets the held calls go on once the line has sent all that is queued,
    // and prints what has left by now. Returns how long to wait, in
    // nanoseconds, before the next thing is due (-1: nothing is).
    long long tick()
    {
        const long long t = now();
        sent(wire_.advance(t));
        if (!held_.empty() && wire_.idle_at() <= t) {
            for (const auto &call : held_) {
                if (call.kind == line_call::set)
                    sent(wire_.change(call.settings, t));
                watch_.answer(call);
            }
            held_.clear();
        }
        print(monitor_.idle(t));
        long long next = monitor_.deadline_ns();
        const auto due = [&](long long at) { next = next < 0 ? at : std::min(next, at); };
        // While bytes are queued, reports come out as their frames end.
        if (wire_.queued())
            due(std::min(wire_.idle_at(), t + 10 * NS_PER_MS));
        if (!held_.empty())
            due(wire_.idle_at());
        return next < 0 ? -1 : std::max(0LL, next - t);
    }

    // Everything queued leaves, every held call goes on, and the summary.
    void finish()
    {
        take_in();
        for (const auto &call : held_)
            watch_.answer(call);
        held_.clear();
        sent(wire_.advance(wire_.idle_at()));
        print(monitor_.flush());
        // The dump runs on to the last stop bit if that is later.
        if (vcd_.is_open() && !vcd_.close(now()))
            perror("panelsim: the line's dump");
        printf("panelsim: %zu frame%s received, %zu flagged\n", frames_, frames_ == 1 ? "" : "s",
               flagged_);
    }

    [[nodiscard]] bool flagged() const { return flagged_ > 0; }
    [[nodiscard]] int line_fd() const { return line_.master(); }
    [[nodiscard]] const line_settings &settings() const { return wire_.settings(); }

  private:
    static line_settings initial(const pty_line &line, bool blind)
    {
        line_settings s = read_settings(line.master());
        s.known = !blind;
        return s;
    }

    // Where the settings were not seen, the speed, stop bits and flags are
    // what the line reports; the size and parity stay unknown.
    void follow_line()
    {
        line_settings s = read_settings(line_.master());
        s.known = false;
        sent(wire_.change(s, now()));
    }

    void say_unknown(const std::string &why)
    {
        if (!said_unknown_)
            fprintf(stderr,
                    "panelsim: %s: frames sent under settings not seen are flagged \"settings "
                    "unknown\"\n",
                    why.c_str());
        said_unknown_ = true;
    }

    // From now on the settings are not known.
    void unknown(const std::string &why)
    {
        say_unknown(why);
        line_settings s = wire_.settings();
        s.known = false;
        sent(wire_.change(s, now()));
    }

    void sent(const std::vector<sent_byte> &bytes)
    {
        for (const auto &b : bytes) {
            const line_settings &s = b.settings;
            vcd_.byte(b.value, b.start_ns, {s.baud, s.data_bits, s.parity, s.stop_bits});
            print(monitor_.take(b));
        }
    }

    void print(const std::vector<line_report> &reports)
    {
        const long long wall = clock_ns(CLOCK_REALTIME) - clock_ns(CLOCK_MONOTONIC) + start_;
        for (const auto &r : reports) {
            const long long at_ms = (wall + r.time_ns) / NS_PER_MS;
            const time_t secs = static_cast<time_t>(at_ms / 1000);
            tm local{};
            localtime_r(&secs, &local);
            char stamp[16];
            strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
            std::string hex;
            for (const auto b : r.bytes) {
                char h[4];
                snprintf(h, sizeof h, "%s%02x", hex.empty() ? "" : " ", b);
                hex += h;
            }
            printf("panel %s.%03lld  %-23s  %s", stamp, at_ms % 1000, hex.c_str(),
                   describe(r.settings).c_str());
            if (!r.problems.empty()) {
                std::string all;
                for (const auto &p : r.problems)
                    all += (all.empty() ? "" : "; ") + p;
                printf("  !! %s", all.c_str());
                flagged_++;
            }
            putchar('\n');
            if (r.bytes.size() == FRAME_LEN)
                frames_++;
        }
    }

    pty_line &line_;
    settings_watch &watch_;
    vcd_writer &vcd_;
    long long start_;
    wire wire_;
    frame_monitor monitor_;
    std::vector<line_call> held_;
    bool holds_;
    bool blind_;
    bool said_unknown_ = false;
    std::size_t frames_ = 0;
    std::size_t flagged_ = 0;
};

// Watches the line until the command and every process it started have
// ended (or, without one, until we are interrupted); prints every report and
// the summary. Returns the exit status.
int watch_line(panel &p, settings_watch &watch, pid_t child, int sigfd)
{
    int status = 0;
    for (;;) {
        const long long wait = p.tick();
        pollfd fds[3] = {{-1, POLLIN, 0}, {sigfd, POLLIN, 0}, {watch.fd(), POLLIN, 0}};
        fds[0].fd = p.line_fd();
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(wait / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(wait % 1000000000LL);
        if (ppoll(fds, watch.fd() >= 0 ? 3 : 2, wait < 0 ? nullptr : &timeout, nullptr) < 0 &&
            errno != EINTR)
            break;
        if (fds[2].revents & POLLIN) {
            line_call call;
            if (!watch.receive(call, p.settings()))
                watch.stop();
            else if (call.id != 0)
                p.handle(call);
        } else if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            watch.stop();
        }
        if (fds[0].revents & POLLIN)
            p.take_in();
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo si{};
            bool done = false;
            if (read(sigfd, &si, sizeof si) == sizeof si && si.ssi_signo != SIGCHLD && child < 0)
                done = true;
            // Orphans of the command come to us: all must have ended.
            int ws = 0;
            pid_t pid;
            while ((pid = waitpid(-1, &ws, WNOHANG)) > 0)
                if (pid == child)
                    status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
            if (child > 0 && pid < 0 && errno == ECHILD)
                done = true;
            if (done)
                break;
        }
    }
    p.finish();
    return status == 0 && p.flagged() ? 1 : status;
}

struct options {
    std::string link = PANELSIM_LINK;
    bool at_ttys1 = false;
    bool at_arrival = false;
    std::string vcd;
    char **command = nullptr; // null-terminated; empty without a command
};

// Reads the command line; returns -1 to go on, else the exit status.
int parse(int argc, char *argv[], options &o)
{
    const option longopts[] = {
        {"link", required_argument, nullptr, 'l'}, {"dev-ttyS1", no_argument, nullptr, 'd'},
        {"at-arrival", no_argument, nullptr, 'a'}, {"vcd", required_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0}};
    bool link_given = false;
    for (int c; (c = getopt_long(argc, argv, "+l:dav:h", longopts, nullptr)) != -1;) {
        switch (c) {
        case 'l':
            o.link = optarg;
            link_given = true;
            break;
        case 'd':
            o.at_ttys1 = true;
            break;
        case 'a':
            o.at_arrival = true;
            break;
        case 'v':
            o.vcd = optarg;
            break;
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    o.command = argv + optind;
    if (o.at_ttys1 && (o.command[0] == nullptr || link_given)) {
        fprintf(stderr, "panelsim: --dev-ttyS1 needs a COMMAND and no --link\n");
        return 2;
    }
    return -1;
}

// Starts the command, under the watch; returns its pid, or -1 with status set.
pid_t start(const options &o, const pty_line &line, settings_watch &watch, int &status)
{
    // Behind an emulated UART nobody is held: closes need not be watched.
    const launch_result started = launch(o.command, line.slave_path(), o.at_ttys1, !o.at_arrival);
    if (started.pid < 0) {
        fprintf(stderr, "panelsim: %s\n", started.error.c_str());
        if (started.status == LAUNCH_NO_TTYS1)
            fprintf(stderr,
                    "panelsim: run it as root, or run programs that open %s "
                    "without --dev-ttyS1\n",
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
    setvbuf(stdout, nullptr, _IOLBF, 0);

    pty_line line;
    if (!line.open()) {
        perror("panelsim: openpty");
        return 2;
    }
    // Another live panel's path is left alone, its link untouched.
    if (!o.at_ttys1 && !line.link(o.link)) {
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
        return 2;
    }

    vcd_writer vcd;
    if (!o.vcd.empty() && !vcd.open(o.vcd)) {
        fprintf(stderr, "panelsim: %s: %s\n", o.vcd.c_str(), strerror(errno));
        return 2;
    }

    // Signals arrive as data, in the loop; the child gets the usual handling.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGCHLD);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int sigfd = signalfd(-1, &signals, SFD_CLOEXEC);

    struct stat st {
    };
    (void)fstat(line.slave(), &st);
    settings_watch watch(st.st_rdev);
    pid_t child = -1;
    if (o.at_arrival)
        printf("panelsim: each byte is judged by the settings in force when it arrived; "
               "nobody is held\n");
    if (o.command[0] != nullptr) {
        // Whatever the command leaves running is ours to wait for.
        (void)prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        int status = 0;
        if ((child = start(o, line, watch, status)) < 0)
            return status;
    } else {
        printf("panelsim: the line is at %s; interrupt to stop\n", o.link.c_str());
        fprintf(stderr, "panelsim: without a COMMAND the settings asked for are not seen: every "
                        "frame is flagged \"settings unknown\"\n");
    }
    panel p(line, watch, vcd, o.at_arrival, watch.fd() < 0);
    return watch_line(p, watch, child, sigfd);
}
