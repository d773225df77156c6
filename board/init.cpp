// SPDX-License-Identifier: MIT
// board_init: the board suite's driver, run as init on an emulated board.
//
// The kernel starts it as the first process of a tiny initramfs that holds
// the programs in /bin. It mounts /dev, runs each case against the board's
// real serial driver at /dev/ttyS1, prints its verdicts on the console and
// powers the board off. What left the UART is judged on the other side of
// the line: every case says, in order, which frames it put there.
//
// Console lines:
//   board: case NAME ok | board: case NAME FAIL WHY
//   board: line NAME [any] FRAME...   frames as 16 hex digits; "any": in any order
//   board: done N
// With /etc/board-command (its words NUL-separated) it runs that command
// instead, on the console, and ends with "board: exit STATUS".
#include "expected.h"
#include "process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

const std::string PORT = "/dev/ttyS1";
const std::string AWAY = "/dev/ttyS1.away";
const std::string PANEL45 = "/bin/panel45";
const std::string PANELCMD = "/bin/panelcmd";
const std::string FRAME45 = "4501010101010000";
const std::string OPEN_ERROR = "file open error\n: No such file or directory\n";

std::string usage_line()
{
    return "usage : " + PANELCMD + " command data...\n";
}

// What one case found wrong; empty when it passed.
struct verdict {
    std::string faults;
    void check(bool ok, const std::string &what)
    {
        if (!ok)
            faults += (faults.empty() ? "" : "; ") + what;
    }
};

std::string quoted(const std::string &s)
{
    std::string q = "\"";
    for (const char c : s)
        q += c == '\n' ? std::string("\\n") : std::string(1, c);
    return q + "\"";
}

// Checks a program's exit status and texts; a closed stream is not looked at.
void expect(verdict &v, const std::string &name, const outcome &o, int status,
            const std::string &out, const std::string &err, const start_options &how = {})
{
    v.check(o.status == status,
            name + ": status " + std::to_string(o.status) + ", want " + std::to_string(status));
    if (!how.closed_out)
        v.check(o.out == out, name + ": stdout " + quoted(o.out) + ", want " + quoted(out));
    if (!how.closed_err)
        v.check(o.err == err, name + ": stderr " + quoted(o.err) + ", want " + quoted(err));
}

// Runs a program and checks its exit status and texts.
void run(verdict &v, const std::vector<std::string> &argv, int status, const std::string &out,
         const std::string &err, const start_options &how = {})
{
    process p(argv, how);
    expect(v, argv[0] + (argv.size() > 1 ? " " + argv[1] : ""), p.wait(60000), status, out, err,
           how);
}

bool same(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc) &&
           cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b);
}

bool read_settings(termios &t)
{
    const int fd = open(PORT.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    const bool ok = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// Leaves the port as an earlier user might: the driver stores the 7 bits and
// the parity that a pseudo-terminal would not. Returns what it then holds.
termios spoil(verdict &v)
{
    termios want = spoiled_settings();
    termios got{};
    const int fd = open(PORT.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    v.check(fd >= 0 && tcsetattr(fd, TCSANOW, &want) == 0, "cannot spoil " + PORT);
    if (fd >= 0)
        close(fd);
    v.check(read_settings(got) && (got.c_cflag & CSIZE) == CS7 && (got.c_cflag & PARENB) &&
                cfgetospeed(&got) == B9600,
            "the driver did not keep 9600 7O2");
    return got;
}

void check_raw(verdict &v)
{
    termios t{};
    const bool read = read_settings(t);
    v.check(read, "cannot read the settings back");
    if (read) {
        const std::string faults = raw_19200_faults(t);
        v.check(faults.empty(), "settings after the run: " + faults);
    }
}

// The port taken away for a case, and put back after it.
struct port_moved {
    port_moved() { ok = rename(PORT.c_str(), AWAY.c_str()) == 0; }
    ~port_moved()
    {
        (void)unlink(PORT.c_str());
        (void)rename(AWAY.c_str(), PORT.c_str());
    }
    port_moved(const port_moved &) = delete;
    port_moved &operator=(const port_moved &) = delete;
    bool ok;
};

// Starts panelcmd, which holds the port through its one-second pause, and
// in that pause panel45 as a service would run: leading a session of its
// own, without a controlling terminal. panel45 must not take the port as one,
// or at its exit the kernel hangs the port up under panelcmd, whose frame is
// then lost with an input/output error.
void beside_a_session_leader(verdict &v)
{
    spoil(v);
    const std::vector<std::uint8_t> frame = {0x45, 1, 1, 1, 1, 1, 0, 0};
    process cmd({PANELCMD, "45", "1", "1", "1", "1", "1"});
    v.check(cmd.holds_open(PORT, 60000), "panelcmd never opened " + PORT);
    run(v, {PANEL45}, 0, "vfd_0x45 command\n", "", {.session_leader = true});
    v.check(cmd.holds_open(PORT, 0), "panelcmd left its pause before panel45 ended");
    expect(v, "panelcmd", cmd.wait(60000), 0, usage_line() + frame_line(frame), "");
    check_raw(v);
}

// Opens the port and stops its output, as a far end that takes no more bytes
// would: tcflow's stop holds until tcflow restarts it, whatever settings
// other openers apply. Learns what the port takes by filling it, empties it
// and fills it again to room bytes short of full. Returns the descriptor, or
// -1.
int stalled_port(verdict &v, std::size_t room)
{
    const int fd = open(PORT.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    v.check(fd >= 0 && tcflow(fd, TCOOFF) == 0, "cannot stop " + PORT);
    if (fd < 0)
        return -1;
    const std::string chunk(512, 'x');
    std::size_t size = 0;
    for (ssize_t n; (n = write(fd, chunk.data(), chunk.size())) > 0;)
        size += static_cast<std::size_t>(n);
    v.check(errno == EAGAIN && size > room,
            "the port took " + std::to_string(size) + " bytes, then " + strerror(errno));
    v.check(tcflush(fd, TCOFLUSH) == 0, "cannot empty " + PORT);
    for (std::size_t left = size - room; left > 0;) {
        const ssize_t n = write(fd, chunk.data(), std::min(left, chunk.size()));
        if (n <= 0) {
            v.check(false, "cannot fill " + PORT + " again");
            break;
        }
        left -= static_cast<std::size_t>(n);
    }
    return fd;
}

// panel45 on a port that takes 3 bytes of its frame and then no more: it must
// give up within its bound, report so, and leave nothing behind that could go
// out when the line moves again (the filler, or a torn frame). The case's own
// descriptor is closed during the run, so that panel45's close is the last,
// or held until after it. (At the last close the kernel itself discards what
// a port stopped by tcflow holds; only a port held open by another keeps it.)
void failed_send_on_a_stalled_port(verdict &v, bool hold)
{
    const int fd = stalled_port(v, 3);
    if (fd < 0)
        return;
    const auto start = std::chrono::steady_clock::now();
    process p({PANEL45});
    usleep(500000);
    if (!hold)
        (void)close(fd);
    const outcome o = p.wait(15000);
    const auto spent = std::chrono::steady_clock::now() - start;
    expect(v, "panel45", o, 1, "vfd_0x45 command\n", "frame write error: Connection timed out\n");
    v.check(spent < std::chrono::seconds(8),
            "panel45 took " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(spent).count()) +
                " s");
    // The line moves again: nothing may be left to go out.
    const int again = hold ? fd : open(PORT.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    int queued = -1;
    const bool asked = again >= 0 && ioctl(again, TIOCOUTQ, &queued) == 0;
    v.check(asked && queued == 0, "the port still holds " + std::to_string(queued) + " bytes");
    v.check(again >= 0 && tcflow(again, TCOON) == 0, "cannot restart " + PORT);
    usleep(1000000);
    if (again >= 0)
        (void)close(again);
}

struct board_case {
    const char *name;
    std::function<void(verdict &)> run;
    std::vector<std::string> line; // frames that leave the UART, in order
    bool any_order = false;
};

std::vector<board_case> cases()
{
    std::vector<board_case> all;
    all.push_back({"panel45_replaces_settings",
                   [](verdict &v) {
                       spoil(v);
                       run(v, {PANEL45}, 0, "vfd_0x45 command\n", "");
                       check_raw(v);
                   },
                   {FRAME45}});
    all.push_back({"panelcmd_replaces_settings",
                   [](verdict &v) {
                       spoil(v);
                       const auto start = std::chrono::steady_clock::now();
                       run(v, {PANELCMD, "a", "d", "11", "13", "0", "ff"}, 0,
                           usage_line() + frame_line(std::vector<std::uint8_t>{
                                              0x0a, 0x0d, 0x11, 0x13, 0, 0xff, 0, 0}),
                           "");
                       const auto spent = std::chrono::steady_clock::now() - start;
                       v.check(spent >= std::chrono::seconds(1), "panelcmd did not pause");
                       check_raw(v);
                   },
                   {"0a0d111300ff0000"}});
    all.push_back({"panel45_with_an_argument_leaves_the_port_alone",
                   [](verdict &v) {
                       const termios before = spoil(v);
                       run(v, {PANEL45, "x"}, 1, "usage : " + PANEL45 + " n", "");
                       termios after{};
                       v.check(read_settings(after) && same(before, after), "the settings changed");
                   },
                   {}});
    all.push_back({"missing_port",
                   [](verdict &v) {
                       const port_moved moved;
                       v.check(moved.ok, "cannot move " + PORT + " away");
                       run(v, {PANEL45}, 1, "", OPEN_ERROR);
                       run(v, {PANELCMD, "45"}, 1, usage_line(), OPEN_ERROR);
                   },
                   {}});
    // The 8250 driver keeps placeholders for ports it found no UART for; one
    // opens, but cannot be set up.
    all.push_back({"port_without_a_uart",
                   [](verdict &v) {
                       struct stat st {
                       };
                       const port_moved moved;
                       v.check(moved.ok && stat("/dev/ttyS3", &st) == 0 &&
                                   mknod(PORT.c_str(), S_IFCHR | 0600, st.st_rdev) == 0,
                               "cannot put ttyS3 at " + PORT);
                       const std::string err = "port setup error: Input/output error\n";
                       run(v, {PANEL45}, 1, "", err);
                       run(v, {PANELCMD, "45"}, 1, usage_line(), err);
                   },
                   {}});
    all.push_back({"closed_standard_descriptors",
                   // cppcheck-suppress constParameter
                   [](verdict &v) {
                       run(v, {PANEL45}, 0, "", "", {.closed_out = true});
                       run(v, {PANELCMD, "a", "d", "0"}, 0, "", "",
                           {.closed_in = true, .closed_out = true, .closed_err = true});
                   },
                   {FRAME45, "0a0d000000000000"}});
    all.push_back(
        {"session_leader_beside_a_paused_run", beside_a_session_leader, {FRAME45, FRAME45}});
    all.push_back({"failed_send_on_a_stalled_port_leaves_nothing",
                   [](verdict &v) { failed_send_on_a_stalled_port(v, false); },
                   {}});
    all.push_back({"failed_send_on_a_stalled_port_held_open_leaves_nothing",
                   [](verdict &v) { failed_send_on_a_stalled_port(v, true); },
                   {}});
    std::vector<std::string> together;
    together.reserve(8);
    for (int i = 0; i < 8; i++)
        together.push_back(i % 2 ? std::string(16, static_cast<char>('0' + i)) : FRAME45);
    all.push_back({"concurrent_runs",
                   [](verdict &v) {
                       std::vector<std::unique_ptr<process>> runs;
                       for (int i = 0; i < 8; i++) {
                           const std::string b = std::to_string(i * 11);
                           runs.push_back(std::make_unique<process>(
                               i % 2 ? std::vector<std::string>{PANELCMD, b, b, b, b, b, b, b, b}
                                     : std::vector<std::string>{PANEL45}));
                       }
                       for (auto &r : runs) {
                           const int status = r->wait(60000).status;
                           v.check(status == 0, "a run ended with " + std::to_string(status));
                       }
                   },
                   together, true});
    return all;
}

int suite()
{
    const auto all = cases();
    for (const auto &c : all) {
        verdict v;
        c.run(v);
        printf("board: case %s %s%s\n", c.name, v.faults.empty() ? "ok" : "FAIL ",
               v.faults.c_str());
        printf("board: line %s%s", c.name, c.any_order ? " any" : "");
        for (const auto &f : c.line)
            printf(" %s", f.c_str());
        putchar('\n');
        fflush(stdout);
    }
    printf("board: done %zu\n", all.size());
    return 0;
}

// Runs the command from /etc/board-command on the console; its status.
int command()
{
    FILE *f = fopen("/etc/board-command", "r");
    std::vector<std::string> argv(1);
    for (int c; (c = fgetc(f)) != EOF;) {
        if (c == '\0')
            argv.emplace_back();
        else
            argv.back() += static_cast<char>(c);
    }
    fclose(f);
    argv.pop_back();
    if (access("/bin/sh", X_OK) != 0) {
        process links({"/bin/busybox", "--install", "-s", "/bin"});
        (void)links.wait();
    }
    std::vector<char *> args(argv.size() + 1, nullptr);
    std::transform(argv.begin(), argv.end(), args.begin(), [](std::string &a) { return a.data(); });
    const pid_t pid = fork();
    if (pid == 0) {
        // Nothing types on the console: a command that reads gets end of file.
        const int null = open("/dev/null", O_RDONLY);
        if (null > 0) {
            dup2(null, 0);
            close(null);
        }
        execvp(args[0], args.data());
        fprintf(stderr, "%s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

} // namespace

int main()
{
    (void)mount("devtmpfs", "/dev", "devtmpfs", 0, nullptr);
    (void)mount("proc", "/proc", "proc", 0, nullptr);
    (void)mount("sysfs", "/sys", "sysfs", 0, nullptr);
    (void)mount("tmpfs", "/tmp", "tmpfs", 0, nullptr);
    const int con = open("/dev/console", O_RDWR);
    for (int fd = 0; fd <= 2; fd++)
        (void)dup2(con, fd);
    if (con > 2)
        close(con);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setenv("PATH", "/bin", 1);
    setenv("HOME", "/", 1);

    if (access("/etc/board-command", R_OK) == 0) {
        const int status = command();
        fflush(nullptr);
        printf("board: exit %d\n", status);
    } else {
        suite();
    }
    fflush(nullptr);
    sync();
    (void)reboot(RB_POWER_OFF);
    return 0;
}
