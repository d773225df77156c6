// panelsim: a virtual panel. It stands in for the display controller on a
// pseudo-terminal and prints, for every frame that reaches it, the bytes and
// the line settings they came under, flagging what a controller at 19200 8N1
// would not take.
#include "frames.h"
#include "launch.h"
#include "pty_line.h"
#include "watch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PANELSIM_LINK
#define PANELSIM_LINK "/tmp/panelsim-ttyS1"
#endif

namespace
{

// How long bytes written to the line may take to reach our side.
constexpr int SETTLE_MS = 5;

void usage(FILE *to)
{
    fprintf(to,
            "usage: panelsim [-l PATH | -d] [-- COMMAND [ARGS...]]\n"
            "  -l, --link PATH   put the line at PATH (default %s)\n"
            "  -d, --dev-ttyS1   put the line at /dev/ttyS1 for COMMAND, in a private\n"
            "                    mount namespace (root, or unprivileged user namespaces)\n"
            "  -h, --help        show this text\n"
            "Without COMMAND the panel runs until interrupted.\n",
            PANELSIM_LINK);
}

long long wall_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct tally {
    std::size_t frames = 0;
    std::size_t flagged = 0;
};

void print(const std::vector<line_report> &reports, tally &t)
{
    for (const auto &r : reports) {
        const time_t secs = static_cast<time_t>(r.time_ms / 1000);
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
        printf("panel %s.%03lld  %-23s  %s", stamp, r.time_ms % 1000, hex.c_str(),
               describe(r.settings).c_str());
        if (!r.problems.empty()) {
            std::string all;
            for (const auto &p : r.problems)
                all += (all.empty() ? "" : "; ") + p;
            printf("  !! %s", all.c_str());
            t.flagged++;
        }
        putchar('\n');
        if (r.bytes.size() == FRAME_LEN)
            t.frames++;
    }
}

// The settings in force now. The pseudo-terminal reports everything but the
// character size and parity, which come from what was last asked for.
termios line_settings(const pty_line &line, const settings_watch &watch)
{
    termios t = line.settings();
    unsigned asked = 0;
    if (watch.requested(asked)) {
        const auto keep = static_cast<tcflag_t>(CSIZE | PARENB);
        t.c_cflag = (t.c_cflag & ~keep) | (static_cast<tcflag_t>(asked) & keep);
    }
    return t;
}

// Watches the line until the command has ended (or, without one, until we
// are interrupted) and the line is quiet; prints every report and the
// summary. Returns the exit status.
int watch_line(pty_line &line, settings_watch &watch, pid_t child, int sigfd)
{
    frame_monitor monitor;
    tally t;
    int status = 0;
    bool done = false;         // the command has ended, or we were interrupted
    long long quiet_until = 0; // once done: the line must stay quiet until then
    const auto quiet_from_now = [&] { quiet_until = wall_ms() + FRAME_GAP_MS; };

    // Takes in what has arrived, waiting up to wait_ms for the first of it.
    const auto take_in = [&](int wait_ms) {
        std::uint8_t buf[512];
        ssize_t n;
        while ((n = line.read(buf, wait_ms)) > 0) {
            print(monitor.feed({buf, static_cast<std::size_t>(n)}, line_settings(line, watch),
                               wall_ms()),
                  t);
            if (done)
                quiet_from_now();
            wait_ms = 0;
        }
    };

    while (true) {
        const long long now = wall_ms();
        print(monitor.idle(now), t);
        if (done && now >= quiet_until)
            break;
        int timeout = monitor.wait_ms(now);
        if (done && (timeout < 0 || quiet_until - now < timeout))
            timeout = static_cast<int>(quiet_until - now);
        pollfd fds[3] = {{line.master(), POLLIN, 0}, {sigfd, POLLIN, 0}, {watch.fd(), POLLIN, 0}};
        if (poll(fds, watch.fd() >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR)
            break;
        // Before a watched program changes the settings, the bytes it sent
        // under the old ones are taken in; the kernel hands them on to our side
        // a moment after the write.
        if (((fds[2].revents & POLLIN) && !watch.handle([&] { take_in(SETTLE_MS); })) ||
            (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)))
            watch.stop();
        if (fds[0].revents & POLLIN)
            take_in(0);
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo si{};
            if (read(sigfd, &si, sizeof si) == sizeof si && si.ssi_signo != SIGCHLD && child < 0) {
                done = true;
                quiet_from_now();
            }
            int ws = 0;
            if (child > 0 && waitpid(child, &ws, WNOHANG) == child) {
                status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
                child = -1;
                done = true;
                quiet_from_now();
            }
        }
    }
    print(monitor.flush(), t);
    printf("panelsim: %zu frame%s received, %zu flagged\n", t.frames, t.frames == 1 ? "" : "s",
           t.flagged);
    return status == 0 && t.flagged > 0 ? 1 : status;
}

struct options {
    std::string link = PANELSIM_LINK;
    bool at_ttys1 = false;
    char **command = nullptr; // null-terminated; empty without a command
};

// Reads the command line; returns -1 to go on, else the exit status.
int parse(int argc, char *argv[], options &o)
{
    const option longopts[] = {{"link", required_argument, nullptr, 'l'},
                               {"dev-ttyS1", no_argument, nullptr, 'd'},
                               {"help", no_argument, nullptr, 'h'},
                               {nullptr, 0, nullptr, 0}};
    bool link_given = false;
    for (int c; (c = getopt_long(argc, argv, "+l:dh", longopts, nullptr)) != -1;) {
        switch (c) {
        case 'l':
            o.link = optarg;
            link_given = true;
            break;
        case 'd':
            o.at_ttys1 = true;
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
    const launch_result started = launch(o.command, line.slave_path(), o.at_ttys1);
    if (started.pid < 0) {
        fprintf(stderr, "panelsim: %s\n", started.error.c_str());
        if (started.status == LAUNCH_NO_TTYS1)
            fprintf(stderr,
                    "panelsim: run it as root, or run the host build of the programs "
                    "(they open %s) without --dev-ttyS1\n",
                    PANELSIM_LINK);
        status = started.status;
        return -1;
    }
    if (!started.warning.empty())
        fprintf(stderr,
                "panelsim: cannot watch the settings asked for (%s): data bits and parity "
                "are not seen\n",
                started.warning.c_str());
    watch.adopt(started.watch);
    return started.pid;
}

} // namespace

int main(int argc, char *argv[])
{
    options o;
    if (const int status = parse(argc, argv, o); status >= 0)
        return status;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    pty_line line;
    if (!line.open()) {
        perror("panelsim: openpty");
        return 2;
    }
    if (!o.at_ttys1 && !line.link(o.link)) {
        if (errno == EEXIST)
            fprintf(stderr,
                    "panelsim: %s exists and is not a panel's link; remove it or choose another "
                    "with --link\n",
                    o.link.c_str());
        else
            fprintf(stderr, "panelsim: cannot link %s: %s\n", o.link.c_str(), strerror(errno));
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
    if (o.command[0] != nullptr) {
        int status = 0;
        if ((child = start(o, line, watch, status)) < 0)
            return status;
    } else {
        printf("panelsim: the line is at %s; interrupt to stop\n", o.link.c_str());
    }
    return watch_line(line, watch, child, sigfd);
}
