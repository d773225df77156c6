// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "listener.h"

#include "expected.h"
#include "writer.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <span>
#include <sys/mount.h>
#include <unistd.h>

namespace
{

const std::string PAIR_FILE = "/etc/board-pair";
const std::string PANELSIM = "/bin/panelsim";
// panelsim starts on a busy emulated board within these; it ends at once.
constexpr int START_MS = 60000;
constexpr int STOP_MS = 30000;
// The line left quiet around each frame: ten times the 100 ms after which a
// controller ends the frame under way.
constexpr useconds_t QUIET_US = 1000000;

const std::vector<std::uint8_t> FRAME45 = {0x45, 1, 1, 1, 1, 1, 0, 0};
// Five bytes, then silence: a frame cut short.
const std::vector<std::uint8_t> SHORT = {0x45, 1, 1, 1, 1};
// A whole frame and one byte more in one write: the byte is left over. Its
// ff bytes reach panelsim doubled, as a port that marks errors (PARMRK)
// passes them on, and the 00 after each must stay a byte of its own.
const std::vector<std::uint8_t> LONG = {0x45, 0xff, 0, 0xff, 0, 0xff, 0, 0, 0x0d};

// Bytes as the console names them: two hexadecimal digits each.
std::string hex(std::span<const std::uint8_t> bytes)
{
    std::string out;
    for (const std::uint8_t b : bytes) {
        char digits[3];
        snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

// Whether the 8250 driver found a UART behind the port: its type is not
// PORT_UNKNOWN (0), as a placeholder's is.
bool has_uart(const std::string &dev)
{
    const std::string name = dev.substr(dev.rfind('/') + 1);
    FILE *f = fopen(("/sys/class/tty/" + name + "/type").c_str(), "r");
    char text[16] = {};
    const bool read = f != nullptr && fgets(text, sizeof text, f) != nullptr;
    if (f != nullptr)
        fclose(f);
    char *end = nullptr;
    const long type = strtol(text, &end, 10);
    return read && end != text && type != 0;
}

bool settings_of(const std::string &dev, termios &t)
{
    const int fd = open(dev.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    const bool ok = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// The pair's sending port at /dev/ttyS1 while it lives. Detached at the end,
// so that the next case's opens reach the board's own ttyS1 whatever holds
// this one still.
struct port_bound {
    explicit port_bound(const std::string &dev)
    {
        ok = mount(dev.c_str(), PORT.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~port_bound()
    {
        if (ok)
            (void)umount2(PORT.c_str(), MNT_DETACH);
    }
    port_bound(const port_bound &) = delete;
    port_bound &operator=(const port_bound &) = delete;
    bool ok;
};

// Writes bytes to the port in one write, as another program would, then
// leaves the line quiet.
void write_alone(verdict &v, const std::vector<std::uint8_t> &bytes, const std::string &what)
{
    writer w(PORT, bytes);
    v.check(w.wait(15000) == 0, "cannot write " + what + " to " + PORT);
    usleep(QUIET_US);
}

// The programs' frames at /dev/ttyS1, and the two the listener must flag.
void send_frames(verdict &v)
{
    run(v, {PANEL45}, 0, "vfd_0x45 command\n", "");
    usleep(QUIET_US);
    write_alone(v, SHORT, "a short frame");
    run(v, {PANELCMD, "45", "1", "1", "1", "1", "1"}, 0, usage_line() + frame_line(FRAME45), "");
    usleep(QUIET_US);
    write_alone(v, LONG, "a frame and a byte");
}

// Stops panelsim as a user does, with SIGINT, and prints its reports. It
// flagged frames, so it ends with status 1.
void stop(verdict &v, process &panel, const std::string &name)
{
    v.check(kill(panel.pid(), SIGINT) == 0, "cannot interrupt panelsim");
    const outcome o = panel.wait(STOP_MS);
    v.check(o.status == 1, "panelsim --listen: status " + std::to_string(o.status) +
                               ", want 1; stderr " + quoted(o.err));
    for (std::size_t at = 0; at < o.out.size();) {
        const std::size_t end = std::min(o.out.find('\n', at), o.out.size());
        printf("board: listen %s %s\n", name.c_str(), o.out.substr(at, end - at).c_str());
        at = end + 1;
    }
}

// panelsim listening on the pair's other port while the programs write.
void listen_beside_the_programs(verdict &v, const uart_pair &pair, const std::string &name)
{
    process panel({PANELSIM, "--listen", pair.listen, "--json"});
    if (!panel.shows("panelsim: listening on " + pair.listen + "\n", START_MS,
                     process::stream::err)) {
        const outcome o = panel.wait(STOP_MS);
        v.check(false, "panelsim never listened on " + pair.listen + ": status " +
                           std::to_string(o.status) + ", stderr " + quoted(o.err));
        return;
    }
    {
        const port_bound bound(pair.send);
        v.check(bound.ok, "cannot bind " + pair.send + " at " + PORT);
        if (bound.ok)
            send_frames(v);
    }
    stop(v, panel, name);
}

} // namespace

std::optional<uart_pair> board_pair()
{
    FILE *f = fopen(PAIR_FILE.c_str(), "r");
    if (f == nullptr)
        return std::nullopt;
    char send[32] = {};
    char listen[32] = {};
    const bool read = fscanf(f, "%31s %31s", send, listen) == 2;
    fclose(f);
    if (!read)
        return std::nullopt;
    return uart_pair{"/dev/" + std::string(send), "/dev/" + std::string(listen)};
}

void listener_case(verdict &v, const std::optional<uart_pair> &pair, const std::string &name)
{
    if (!pair) {
        v.skipped = "the board has no UARTs wired back to back (board/boards)";
        return;
    }
    for (const auto &dev : {pair->send, pair->listen})
        v.check(has_uart(dev), "the board's kernel found no UART at " + dev +
                                   ", which board/boards names for the pair");
    termios before{};
    v.check(settings_of(pair->listen, before), "cannot read " + pair->listen + "'s settings");
    if (!v.faults.empty())
        return;
    listen_beside_the_programs(v, *pair, name);
    termios after{};
    v.check(settings_of(pair->listen, after) && same(before, after),
            "panelsim left other settings on " + pair->listen + " than it found");
}

std::vector<std::string> listener_heard()
{
    const std::span<const std::uint8_t> whole(LONG.data(), FRAME45.size());
    const std::span<const std::uint8_t> rest(LONG.data() + FRAME45.size(), 1);
    return {hex(FRAME45), hex(SHORT) + "!cut_short", hex(FRAME45), hex(whole),
            hex(rest) + "!left_over"};
}
