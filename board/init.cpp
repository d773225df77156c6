// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// board_init: the board suite's driver, run as init on an emulated board.
//
// The kernel starts it as the first process of a tiny initramfs that holds
// the programs and panelsim in /bin. It mounts /dev, runs each case against
// the board's real serial driver at /dev/ttyS1, prints its verdicts on the
// console and powers the board off. What left the UART is judged on the
// other side of the line: every case says, in order, which frames it put
// there. One case listens on the board itself (listener.h).
//
// Console lines:
//   board: case NAME ok | board: case NAME FAIL WHY | board: case NAME skip WHY
//   board: line NAME [any] FRAME...   frames as 16 hex digits; "any": in any order;
//                                     FRAME*N: N times over; A+B: both, in any order
//   board: done N
// With /etc/board-command (its words NUL-separated) it runs that command
// instead, on the console, and ends with "board: exit STATUS".
#include "checks.h"
#include "expected.h"
#include "listener.h"
#include "process.h"
#include "writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
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

const std::string AWAY = "/dev/ttyS1.away";
const std::string FRAME45 = "4501010101010000";
constexpr std::size_t FRAME_LEN = 8;
// Another program's frame, and the whole frames that fill a stalled port.
const std::string OTHER_FRAME = "4502020202020000";
const std::vector<std::uint8_t> OTHER_BYTES = {0x45, 2, 2, 2, 2, 2, 0, 0};
const std::string FILLER = "46494c4c45520000";
const std::vector<std::uint8_t> FILLER_BYTES = {'F', 'I', 'L', 'L', 'E', 'R', 0, 0};
const std::string OPEN_ERROR = "file open error\n: No such file or directory\n";

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

// What the port holds queued for sending; -1 where it does not say.
int queued(int fd)
{
    int n = -1;
    return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

// Waits up to limit_ms for the port to hold want bytes queued.
bool wait_queued(int fd, int want, int limit_ms)
{
    for (int waited = 0; queued(fd) != want; waited += 10) {
        if (waited >= limit_ms)
            return false;
        usleep(10000);
    }
    return true;
}

// Writes bytes non-blocking until the port takes no more or limit bytes
// have gone in; returns how many it took.
std::size_t put(int fd, const std::string &bytes, std::size_t limit)
{
    std::size_t total = 0;
    while (total < limit) {
        const ssize_t n = write(fd, bytes.data(), std::min(limit - total, bytes.size()));
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

// Opens the port and stops its output, as a far end that takes no more bytes
// would: tcflow's stop holds until tcflow restarts it, whatever settings
// other openers apply. Returns the descriptor, or -1.
int stopped_port(verdict &v)
{
    const int fd = open(PORT.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    v.check(fd >= 0 && tcflow(fd, TCOOFF) == 0, "cannot stop " + PORT);
    return fd;
}

// What the port's transmit buffer holds: learned by filling the stopped port
// until it takes no more, then emptied and restarted. 0 when it cannot tell.
std::size_t port_capacity()
{
    verdict v;
    const int fd = stopped_port(v);
    if (fd < 0)
        return 0;
    const std::size_t size = put(fd, std::string(512, 'x'), SIZE_MAX);
    const bool full = errno == EAGAIN;
    (void)tcflush(fd, TCOFLUSH);
    (void)tcflow(fd, TCOON);
    (void)close(fd);
    return full && v.faults.empty() ? size : 0;
}

// The port stopped and filled with whole filler frames to room bytes short
// of full. Returns the descriptor, or -1.
int stalled_port(verdict &v, std::size_t capacity, std::size_t room)
{
    v.check(capacity > room && (capacity - room) % FRAME_LEN == 0,
            "the port holds " + std::to_string(capacity) + " bytes, no whole number of frames " +
                "leaves " + std::to_string(room) + " free");
    const int fd = stopped_port(v);
    if (fd < 0 || !v.faults.empty())
        return fd;
    std::string filler;
    for (int i = 0; i < 64; i++)
        filler.append(FILLER_BYTES.begin(), FILLER_BYTES.end());
    v.check(put(fd, filler, capacity - room) == capacity - room, "cannot fill " + PORT);
    return fd;
}

// The port 7 bytes short of full, panel45 started, and beside it another
// program's blocking write of a whole frame, which takes the 7 bytes and
// waits for the eighth. When the line moves, both frames must go out whole:
// the other program's bytes never land inside panel45's frame.
void beside_a_blocking_writer(verdict &v, std::size_t capacity)
{
    const int fd = stalled_port(v, capacity, 7);
    if (fd < 0)
        return;
    process p({PANEL45});
    usleep(500000);
    writer other(PORT, OTHER_BYTES);
    // Full: the other write took the 7 bytes (or panel45 did) and waits.
    v.check(wait_queued(fd, static_cast<int>(capacity), 5000),
            "the port holds " + std::to_string(queued(fd)) + " bytes, want it full");
    usleep(500000);
    v.check(tcflow(fd, TCOON) == 0, "cannot restart " + PORT);
    expect(v, "panel45", p.wait(15000), 0, "vfd_0x45 command\n", "");
    v.check(other.wait(15000) == 0, "the other program's write failed");
    usleep(500000);
    (void)close(fd);
}

// A whole frame of another program queued behind the filler, the port 7
// bytes short of full and held stopped past panel45's bound: panel45 must
// give up in bounded time with nothing of its frame queued, and discard
// nothing of what others queued. The case's descriptor stays open, so that
// no close of panel45 is the last (which the kernel would make discard).
void give_up_beside_another_frame(verdict &v, std::size_t capacity)
{
    const int fd = stalled_port(v, capacity, FRAME_LEN + 7);
    if (fd < 0)
        return;
    writer other(PORT, OTHER_BYTES);
    v.check(other.wait(15000) == 0, "the other program's write failed");
    const auto start = std::chrono::steady_clock::now();
    process p({PANEL45});
    const outcome o = p.wait(15000);
    const auto spent = std::chrono::steady_clock::now() - start;
    expect(v, "panel45", o, 1, "vfd_0x45 command\n", "frame write error: Connection timed out\n");
    v.check(spent < std::chrono::seconds(8),
            "panel45 took " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(spent).count()) +
                " s");
    const int want = static_cast<int>(capacity - 7);
    v.check(queued(fd) == want, "the port holds " + std::to_string(queued(fd)) + " bytes, want " +
                                    std::to_string(want));
    v.check(tcflow(fd, TCOON) == 0, "cannot restart " + PORT);
    usleep(1000000);
    (void)close(fd);
}

struct board_case {
    const char *name;
    std::function<void(verdict &)> run;
    std::vector<std::string> line; // frames that leave the UART, in order
    bool any_order = false;
    std::vector<std::string> heard = {}; // what panelsim --listen reports, in order
};

void panel45_replaces_settings(verdict &v)
{
    spoil(v);
    run(v, {PANEL45}, 0, "vfd_0x45 command\n", "");
    check_raw(v);
}

void panelcmd_replaces_settings(verdict &v)
{
    spoil(v);
    const auto start = std::chrono::steady_clock::now();
    run(v, {PANELCMD, "a", "d", "11", "13", "0", "ff"}, 0,
        usage_line() + frame_line(std::vector<std::uint8_t>{0x0a, 0x0d, 0x11, 0x13, 0, 0xff, 0, 0}),
        "");
    const auto spent = std::chrono::steady_clock::now() - start;
    v.check(spent >= std::chrono::seconds(1), "panelcmd did not pause");
    check_raw(v);
}

void an_argument_leaves_the_port_alone(verdict &v)
{
    const termios before = spoil(v);
    run(v, {PANEL45, "x"}, 1, "usage : " + PANEL45 + " n", "");
    termios after{};
    v.check(read_settings(after) && same(before, after), "the settings changed");
}

void missing_port(verdict &v)
{
    const port_moved moved;
    v.check(moved.ok, "cannot move " + PORT + " away");
    run(v, {PANEL45}, 1, "", OPEN_ERROR);
    run(v, {PANELCMD, "45"}, 1, usage_line(), OPEN_ERROR);
}

// The 8250 driver keeps placeholders for ports it found no UART for; one
// opens, but cannot be set up.
void port_without_a_uart(verdict &v)
{
    struct stat st {
    };
    const port_moved moved;
    v.check(moved.ok && stat("/dev/ttyS3", &st) == 0 &&
                mknod(PORT.c_str(), S_IFCHR | 0600, st.st_rdev) == 0,
            "cannot put ttyS3 at " + PORT);
    const std::string err = "port setup error: Input/output error\n";
    run(v, {PANEL45}, 1, "", err);
    run(v, {PANELCMD, "45"}, 1, usage_line(), err);
}

// cppcheck-suppress constParameterCallback
void closed_standard_descriptors(verdict &v)
{
    run(v, {PANEL45}, 0, "", "", {.closed_out = true});
    run(v, {PANELCMD, "a", "d", "0"}, 0, "", "",
        {.closed_in = true, .closed_out = true, .closed_err = true});
}

// Eight runs at once, panel45 and panelcmd in turn: each frame whole.
constexpr int CONCURRENT_RUNS = 8;

void concurrent_runs(verdict &v)
{
    std::vector<std::unique_ptr<process>> runs;
    for (int i = 0; i < CONCURRENT_RUNS; i++) {
        const std::string b = std::to_string(i * 11);
        runs.push_back(std::make_unique<process>(
            i % 2 ? std::vector<std::string>{PANELCMD, b, b, b, b, b, b, b, b}
                  : std::vector<std::string>{PANEL45}));
    }
    for (auto &r : runs) {
        const int status = r->wait(60000).status;
        v.check(status == 0, "a run ended with " + std::to_string(status));
    }
}

std::vector<std::string> concurrent_frames()
{
    std::vector<std::string> frames;
    frames.reserve(CONCURRENT_RUNS);
    for (int i = 0; i < CONCURRENT_RUNS; i++)
        frames.push_back(i % 2 ? std::string(16, static_cast<char>('0' + i)) : FRAME45);
    return frames;
}

constexpr const char *LISTENING = "panelsim_listens_beside_the_programs";

// Every case, with the frames it leaves on the line. capacity is the
// port's buffer, which the cases with the filler fill; pair, the UARTs wired
// back to back, if the board has them.
std::vector<board_case> cases(std::size_t capacity, const std::optional<uart_pair> &pair)
{
    // FRAME*N for N frames of the filler, A+B for both in any order.
    const auto fillers = [capacity](std::size_t room) {
        return FILLER + "*" + std::to_string(capacity > room ? (capacity - room) / FRAME_LEN : 0);
    };
    return {
        {"panel45_replaces_settings", panel45_replaces_settings, {FRAME45}},
        {"panelcmd_replaces_settings", panelcmd_replaces_settings, {"0a0d111300ff0000"}},
        {"panel45_with_an_argument_leaves_the_port_alone", an_argument_leaves_the_port_alone, {}},
        {"missing_port", missing_port, {}},
        {"port_without_a_uart", port_without_a_uart, {}},
        {"closed_standard_descriptors", closed_standard_descriptors, {FRAME45, "0a0d000000000000"}},
        {"session_leader_beside_a_paused_run", beside_a_session_leader, {FRAME45, FRAME45}},
        {"nearly_full_port_beside_a_blocking_writer",
         [capacity](verdict &v) { beside_a_blocking_writer(v, capacity); },
         {fillers(7), FRAME45 + "+" + OTHER_FRAME}},
        {"give_up_on_a_stalled_port_keeps_other_frames",
         [capacity](verdict &v) { give_up_beside_another_frame(v, capacity); },
         {fillers(FRAME_LEN + 7), OTHER_FRAME}},
        {"concurrent_runs", concurrent_runs, concurrent_frames(), true},
        {LISTENING,
         [pair](verdict &v) { listener_case(v, pair, LISTENING); },
         {},
         false,
         listener_heard()},
    };
}

void print_verdict(const board_case &c, const verdict &v)
{
    if (!v.skipped.empty() && v.faults.empty()) {
        printf("board: case %s skip %s\n", c.name, v.skipped.c_str());
        return;
    }
    printf("board: case %s %s%s\n", c.name, v.faults.empty() ? "ok" : "FAIL ", v.faults.c_str());
    printf("board: line %s%s", c.name, c.any_order ? " any" : "");
    for (const auto &f : c.line)
        printf(" %s", f.c_str());
    putchar('\n');
    if (!c.heard.empty()) {
        printf("board: heard %s", c.name);
        for (const auto &r : c.heard)
            printf(" %s", r.c_str());
        putchar('\n');
    }
}

int suite()
{
    const auto all = cases(port_capacity(), board_pair());
    for (const auto &c : all) {
        verdict v;
        c.run(v);
        print_verdict(c, v);
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
