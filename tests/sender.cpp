// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// Test helper: a small sender that makes the kernel's terminal calls itself,
// in the order given, so that every way of setting, draining and flushing a
// line can be put in front of the virtual panel.
//
//   sender PATH STEP...
//   sender take:SOCKET STEP...   the line is a descriptor another sender passes
//                                over the Unix socket SOCKET, made here
//
//   termios:BAUD:FRAMING[:now|drain|flush]   TCSETS, TCSETSW or TCSETSF
//   termios2:BAUD:FRAMING[:...]              TCSETS2..., the speed given apart (BOTHER)
//   termio:BAUD:FRAMING[:...]                the System V TCSETA, TCSETAW or TCSETAF
//   i386:BAUD:FRAMING                        TCSETS through the i386 ABI (x86_64 only)
//   write:HEX[:N]        the bytes, N times over (default once), in one write
//   offer:HEX[:N]        the same, printing "took all", "took some" or "EAGAIN"
//   nonblock             make the line's descriptor non-blocking
//   poll:MS | select:MS  ask whether the line takes output and standard input
//                        has input, waiting up to MS; prints what is ready
//   drain | flush        tcdrain; tcflush of output
//   break                tcsendbreak(fd, 0)
//   break:on | break:off TIOCSBRK, TIOCCBRK
//   flow:ooff|oon|ioff|ion   tcflow
//   sleep:MS             wait MS milliseconds (sleep:0.05 is 50 us)
//   wait:FILE            wait until FILE exists
//   close                close the line
//   uring_close          close the line through io_uring (exit status 77 where
//                        io_uring is not to be had)
//   exit                 end this thread, the last, by exit(2) instead of exit_group
//   pass:SOCKET          pass the line's descriptor to the sender waiting at SOCKET
//   cloexec              mark the line close-on-exec
//   exec PROGRAM ARGS... run PROGRAM in this process (the rest of the words)
//   undumpable           keep other users' processes out of this one's memory
//   odd:NAME             a call the kernel refuses or answers its own way
//                        (odd_call); says "odd NAME: OUTCOME" on standard error
//   modem                TIOCMGET; prints "modem: LINES" (dtr rts out1 out2
//                        loop cts dsr ri cd, or none)
//   modem:set|bis|bic:LINES  TIOCMSET, TIOCMBIS, TIOCMBIC; LINES joined by +
//   modem:wait:LINES     TIOCMIWAIT
//   counts               TIOCGICOUNT; prints "counts: tx N, cts N, dsr N, ri N, cd N"
//   lsr                  TIOCSERGETLSR; prints "lsr: empty" or "lsr: sending"
//   serial               TIOCGSERIAL; prints "serial: type N, line N, port 0xN,
//                        irq N, flags 0xN, fifo N, base N, close_delay N,
//                        closing_wait N, divisor N"
//   serial:FIELD=VALUE...  TIOCGSERIAL, the fields changed, TIOCSSERIAL: spd
//                        (normal, hi, vhi, shi, warp, cust), divisor,
//                        closing_wait (hundredths, none, inf), base, irq
// FRAMING is as people say it, e.g. 8N1 or 7E2, with +crtscts for RTS/CTS
// flow control. BAUD is 0 (B0), 300, 1200, 9600, 19200, 38400 or 4000000; any
// other is taken as 115200. Exit status 0, or 1 with a message on the
// first step that fails; 77 when the ABI is not offered here.
#include "split.h"
#include "uring_close.h"

#include <algorithm>
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/serial.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace
{

const char *line_path = nullptr;

unsigned code_of(long baud)
{
    switch (baud) {
    case 0:
        return B0;
    case 300:
        return B300;
    case 1200:
        return B1200;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 4000000:
        return B4000000;
    default:
        return B115200;
    }
}

unsigned cflag_of(long baud, const std::string &framing)
{
    const unsigned sizes[] = {CS5, CS6, CS7, CS8};
    unsigned c = CREAD | CLOCAL | code_of(baud) | sizes[(framing[0] - '5') & 3];
    if (framing[1] != 'N')
        c |= PARENB | (framing[1] == 'O' || framing[1] == 'M' ? PARODD : 0U) |
             (framing[1] == 'M' || framing[1] == 'S' ? CMSPAR : 0U);
    if (framing[2] == '2')
        c |= CSTOPB;
    if (framing.find("+crtscts") != std::string::npos)
        c |= CRTSCTS;
    return c;
}

unsigned long when(const std::vector<std::string> &p, unsigned long now, unsigned long drain,
                   unsigned long flush)
{
    if (p.size() < 4 || p[3] == "now")
        return now;
    return p[3] == "drain" ? drain : flush;
}

#ifdef __x86_64__
// TCSETS through int 0x80, the i386 ABI, with the record below 4 GiB. A
// kernel without the i386 ABI answers int 0x80 with a fault.
long i386_tcsets(int fd, unsigned cflag)
{
    signal(SIGSEGV, [](int) { _exit(77); });
    void *low =
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (low == MAP_FAILED)
        return -errno;
    auto *t = static_cast<termios *>(low);
    t->c_cflag = cflag;
    long ret = 54; // ioctl
    asm volatile("int $0x80"
                 : "+a"(ret)
                 : "b"(fd), "c"(TCSETS), "d"(reinterpret_cast<unsigned long>(t))
                 : "memory", "r8", "r9", "r10", "r11");
    return ret;
}
#endif

// Calls on the line that the kernel refuses, or answers its own way.
unsigned char frame[8] = {0x45, 1, 1, 1, 1, 1, 0, 0};
// The first page is never mapped.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
void *const UNMAPPED = reinterpret_cast<void *>(std::uintptr_t{8});
// Below every process's table size, and never opened by the sender.
constexpr int CLOSED_FD = 20;
constexpr long UNKNOWN = -2;

// 3000 bytes of frames of which the last 500 lie in a page that is not mapped.
long half_mapped(int fd)
{
    auto *pages = static_cast<unsigned char *>(
        mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (pages == MAP_FAILED || munmap(pages + 4096, 4096) != 0)
        return -1;
    for (int i = 0; i < 2500; i++)
        pages[4096 - 2500 + i] = frame[i % 8];
    return write(fd, pages + 4096 - 2500, 3000);
}

long writev_of(int fd, std::initializer_list<iovec> iov)
{
    return writev(fd, iov.begin(), static_cast<int>(iov.size()));
}

long too_many_buffers(int fd)
{
    static iovec iov[1025];
    std::fill(std::begin(iov), std::end(iov), iovec{frame, 1});
    return writev(fd, iov, 1025);
}

// A poll of the line 17 times over, with room for 16 descriptors.
long poll_over_limit(int fd)
{
    rlimit was{};
    getrlimit(RLIMIT_NOFILE, &was);
    const rlimit low = {16, was.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    pollfd fds[17];
    std::fill(std::begin(fds), std::end(fds), pollfd{fd, POLLOUT, 0});
    const long r = poll(fds, 17, 1000);
    setrlimit(RLIMIT_NOFILE, &was);
    return r;
}

// Of the line for output and a closed descriptor for input: poll's revents
// for the closed one, or select's outcome.
long ask_closed(int fd, bool by_poll)
{
    pollfd fds[2] = {{fd, POLLOUT, 0}, {CLOSED_FD, POLLIN, 0}};
    if (by_poll)
        return poll(fds, 2, 1000) < 0 ? -1 : fds[1].revents;
    fd_set in;
    fd_set out;
    FD_ZERO(&in);
    FD_ZERO(&out);
    FD_SET(fd, &out);
    FD_SET(CLOSED_FD, &in);
    timeval tv{1, 0};
    return select(CLOSED_FD + 1, &in, &out, nullptr, &tv);
}

// A whole second of nanoseconds, which ppoll and pselect refuse; with a mask
// of mask_size bytes, a good time.
long bad_time(int fd, bool by_ppoll, std::size_t mask_size)
{
    timespec ts{0, mask_size != 0 ? 0 : 1000000000};
    pollfd p = {fd, POLLOUT, 0};
    std::uint64_t mask[2] = {};
    if (by_ppoll)
        return syscall(SYS_ppoll, &p, 1, &ts, mask_size != 0 ? mask : nullptr, mask_size);
    fd_set out;
    FD_ZERO(&out);
    FD_SET(fd, &out);
    return pselect(fd + 1, nullptr, &out, nullptr, &ts, nullptr);
}

// A request on a descriptor of the line opened with O_PATH, which the
// kernel refuses; then a frame written on the line itself, ten for a flush.
long on_path_only(int fd, const char *path, const std::string &name)
{
    const int p = open(path, O_PATH | O_CLOEXEC);
    int n = 0;
    termios t{};
    t.c_cflag = CS8 | CREAD | CLOCAL | B9600;
    long r = -1;
    if (name == "opath_flush") {
        for (int i = 0; i < 10; i++)
            (void)write(fd, frame, sizeof frame);
        r = ioctl(p, TCFLSH, TCOFLUSH);
    } else if (name == "opath_tcsets") {
        r = ioctl(p, TCSETS, &t);
    } else if (name == "opath_tcflow") {
        r = ioctl(p, TCXONC, TCOOFF);
    } else if (name == "opath_outq") {
        r = ioctl(p, TIOCOUTQ, &n);
    } else {
        r = ioctl(p, TCGETS, &t);
    }
    const int err = errno;
    if (name != "opath_flush")
        (void)write(fd, frame, sizeof frame);
    close(p);
    errno = err;
    return r;
}

// Raw calls where the C library's declarations would refuse them.
long make(int fd, const char *path, const std::string &name)
{
    if (name.rfind("opath_", 0) == 0)
        return on_path_only(fd, path, name);
    if (name == "write_huge_count")
        return syscall(SYS_write, fd, frame, SIZE_MAX);
    if (name == "write_half_mapped")
        return half_mapped(fd);
    if (name == "write_read_only")
        return write(open(path, O_RDONLY | O_NOCTTY), frame, 8);
    if (name == "writev_too_many")
        return too_many_buffers(fd);
    if (name == "writev_negative_length")
        return writev_of(fd, {{frame, SIZE_MAX}});
    if (name == "writev_bad_base")
        return writev_of(fd, {{frame, 8}, {UNMAPPED, 8}});
    if (name == "poll_closed" || name == "select_closed")
        return ask_closed(fd, name[0] == 'p');
    if (name == "poll_over_limit")
        return poll_over_limit(fd);
    if (name == "ppoll_bad_time" || name == "pselect_bad_time")
        return bad_time(fd, name[1] == 'p', 0);
    if (name == "ppoll_bad_mask_size")
        return bad_time(fd, true, 4);
    return UNKNOWN;
}

// Makes the odd call named, and says its outcome: "odd NAME: OUTCOME".
bool odd_call(int fd, const char *path, const std::string &name)
{
    const long r = make(fd, path, name);
    if (r == UNKNOWN)
        return false;
    fprintf(stderr, "odd %s: %s\n", name.c_str(),
            r >= 0 ? std::to_string(r).c_str() : strerror(errno));
    return true;
}

sockaddr_un socket_at(const std::string &path)
{
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    path.copy(at.sun_path, sizeof at.sun_path - 1);
    return at;
}

// Passes the line's descriptor to the sender waiting at path.
int pass(int fd, const std::string &path)
{
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un at = socket_at(path);
    if (s < 0 || connect(s, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0)
        return -1;
    char byte = 'L';
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fd)] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof fd);
    memcpy(CMSG_DATA(c), &fd, sizeof fd);
    const int r = sendmsg(s, &msg, 0) == 1 ? 0 : -1;
    close(s);
    return r;
}

// The descriptor another sender passes over a socket made at path.
int take(const std::string &path)
{
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un at = socket_at(path);
    (void)unlink(path.c_str());
    if (s < 0 || bind(s, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0 ||
        listen(s, 1) != 0)
        return -1;
    const int peer = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    int fd = -1;
    if (peer >= 0 && recvmsg(peer, &msg, MSG_CMSG_CLOEXEC) == 1 && CMSG_FIRSTHDR(&msg) != nullptr)
        memcpy(&fd, CMSG_DATA(CMSG_FIRSTHDR(&msg)), sizeof fd);
    close(peer);
    close(s);
    (void)unlink(path.c_str());
    return fd;
}

// The modem lines by name; OUT1, OUT2 and LOOP are the same on every
// processor, and missing from the C library's header.
constexpr struct {
    const char *name;
    int bit;
} MODEM_LINES[] = {{"dtr", TIOCM_DTR}, {"rts", TIOCM_RTS}, {"out1", 0x2000},
                   {"out2", 0x4000},   {"loop", 0x8000},   {"cts", TIOCM_CTS},
                   {"dsr", TIOCM_DSR}, {"ri", TIOCM_RNG},  {"cd", TIOCM_CAR}};

int lines_of(const std::string &names)
{
    int bits = 0;
    std::string name;
    for (const char c : names + "+") {
        if (c != '+') {
            name += c;
            continue;
        }
        const auto *l = std::find_if(std::begin(MODEM_LINES), std::end(MODEM_LINES),
                                     [&](const auto &m) { return name == m.name; });
        bits |= l != std::end(MODEM_LINES) ? l->bit : 0;
        name.clear();
    }
    return bits;
}

int modem_step(int fd, const std::vector<std::string> &p)
{
    if (p.size() < 3) {
        int bits = 0;
        if (ioctl(fd, TIOCMGET, &bits) != 0)
            return -1;
        std::string names;
        for (const auto &l : MODEM_LINES)
            if ((bits & l.bit) != 0)
                names += std::string(names.empty() ? "" : " ") + l.name;
        printf("modem: %s\n", names.empty() ? "none" : names.c_str());
        return 0;
    }
    const int bits = lines_of(p[2]);
    if (p[1] == "wait")
        return ioctl(fd, TIOCMIWAIT, static_cast<unsigned long>(bits));
    return ioctl(fd, p[1] == "set" ? TIOCMSET : p[1] == "bis" ? TIOCMBIS : TIOCMBIC, &bits);
}

// One FIELD=VALUE of a serial step into s.
bool change_serial(serial_struct &s, const std::string &change)
{
    const std::string field = change.substr(0, change.find('='));
    const std::string value = change.substr(field.size() + 1);
    if (field == "spd") {
        const struct {
            const char *name;
            int flags;
        } speeds[] = {{"normal", 0},          {"hi", ASYNC_SPD_HI},     {"vhi", ASYNC_SPD_VHI},
                      {"shi", ASYNC_SPD_SHI}, {"warp", ASYNC_SPD_WARP}, {"cust", ASYNC_SPD_CUST}};
        s.flags &= ~static_cast<int>(ASYNC_SPD_MASK);
        for (const auto &sp : speeds)
            s.flags |= value == sp.name ? sp.flags : 0;
    } else if (field == "closing_wait") {
        s.closing_wait = static_cast<unsigned short>(value == "none"  ? ASYNC_CLOSING_WAIT_NONE
                                                     : value == "inf" ? ASYNC_CLOSING_WAIT_INF
                                                                      : std::stoi(value));
    } else if (field == "divisor" || field == "base" || field == "irq") {
        (field == "divisor" ? s.custom_divisor
         : field == "base"  ? s.baud_base
                            : s.irq) = std::stoi(value);
    } else {
        return false;
    }
    return true;
}

int serial_step(int fd, const std::vector<std::string> &p)
{
    serial_struct s{};
    if (ioctl(fd, TIOCGSERIAL, &s) != 0)
        return -1;
    if (p.size() < 2) {
        printf("serial: type %d, line %d, port %#x, irq %d, flags %#x, fifo %d, base %d, "
               "close_delay %u, closing_wait %u, divisor %d\n",
               s.type, s.line, s.port, s.irq, static_cast<unsigned>(s.flags), s.xmit_fifo_size,
               s.baud_base, s.close_delay, s.closing_wait, s.custom_divisor);
        return 0;
    }
    for (std::size_t i = 1; i < p.size(); i++)
        if (!change_serial(s, p[i])) {
            errno = EINVAL;
            return -1;
        }
    return ioctl(fd, TIOCSSERIAL, &s);
}

// The UART driver's requests.
int driver_step(int fd, const std::vector<std::string> &p)
{
    if (p[0] == "modem")
        return modem_step(fd, p);
    if (p[0] == "serial")
        return serial_step(fd, p);
    if (p[0] == "lsr") {
        unsigned lsr = 0;
        if (ioctl(fd, TIOCSERGETLSR, &lsr) != 0)
            return -1;
        printf("lsr: %s\n", (lsr & TIOCSER_TEMT) != 0 ? "empty" : "sending");
        return 0;
    }
    serial_icounter_struct c{};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0)
        return -1;
    printf("counts: tx %d, cts %d, dsr %d, ri %d, cd %d\n", c.tx, c.cts, c.dsr, c.rng, c.dcd);
    return 0;
}

bool step(int fd, const std::string &text)
{
    const auto p = split(text, ':');
    const std::string &what = p[0];
    int r = 0;
    if (what == "write" || what == "offer") {
        std::vector<unsigned char> bytes;
        for (long n = p.size() > 2 ? std::stol(p[2]) : 1; n > 0; n--)
            for (std::size_t i = 0; i + 1 < p[1].size(); i += 2)
                bytes.push_back(
                    static_cast<unsigned char>(std::stoul(p[1].substr(i, 2), nullptr, 16)));
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        r = n == static_cast<ssize_t>(bytes.size()) ? 0 : -1;
        if (what == "offer") {
            printf("%s\n", r == 0 ? "took all" : n > 0 ? "took some" : "EAGAIN");
            r = n > 0 || errno == EAGAIN ? 0 : -1;
        }
    } else if (what == "nonblock") {
        r = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    } else if (what == "poll" || what == "select") {
        const int ms = std::stoi(p[1]);
        bool line = false;
        bool input = false;
        if (what == "poll") {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {0, POLLIN, 0}};
            r = poll(fds, 2, ms) < 0 ? -1 : 0;
            line = (fds[0].revents & POLLOUT) != 0;
            input = (fds[1].revents & POLLIN) != 0;
        } else {
            fd_set in;
            fd_set out;
            FD_ZERO(&in);
            FD_ZERO(&out);
            FD_SET(0, &in);
            FD_SET(fd, &out);
            timeval tv{ms / 1000, static_cast<suseconds_t>(ms % 1000) * 1000};
            r = select(fd + 1, &in, &out, nullptr, &tv) < 0 ? -1 : 0;
            line = FD_ISSET(fd, &out);
            input = FD_ISSET(0, &in);
        }
        printf("%s: line %s, input %s\n", what.c_str(), line ? "takes output" : "full",
               input ? "ready" : "none");
    } else if (what == "termios") {
        termios t{};
        t.c_cflag = cflag_of(std::stol(p[1]), p[2]);
        t.c_cc[VSTOP] = 023;
        t.c_cc[VSTART] = 021;
        r = ioctl(fd, when(p, TCSETS, TCSETSW, TCSETSF), &t);
    } else if (what == "termios2") {
#ifdef TCSETS2
        termios2 t{};
        t.c_cflag = (cflag_of(std::stol(p[1]), p[2]) & ~unsigned{CBAUD}) | BOTHER;
        t.c_ospeed = t.c_ispeed = static_cast<speed_t>(std::stol(p[1]));
        r = ioctl(fd, when(p, TCSETS2, TCSETSW2, TCSETSF2), &t);
#else
        exit(77);
#endif
    } else if (what == "termio") {
        termio t{};
        t.c_cflag = static_cast<unsigned short>(cflag_of(std::stol(p[1]), p[2]));
        r = ioctl(fd, when(p, TCSETA, TCSETAW, TCSETAF), &t);
    } else if (what == "i386") {
#ifdef __x86_64__
        const long ret = i386_tcsets(fd, cflag_of(std::stol(p[1]), p[2]));
        if (ret == -ENOSYS)
            exit(77);
        r = ret == 0 ? 0 : -1;
#else
        exit(77);
#endif
    } else if (what == "drain") {
        r = ioctl(fd, TCSBRK, 1);
    } else if (what == "flush") {
        r = ioctl(fd, TCFLSH, TCOFLUSH);
    } else if (what == "break") {
        r = p.size() < 2 ? ioctl(fd, TCSBRK, 0) : ioctl(fd, p[1] == "on" ? TIOCSBRK : TIOCCBRK);
    } else if (what == "flow") {
        const std::string &a = p[1];
        r = ioctl(fd, TCXONC,
                  a == "ooff"   ? TCOOFF
                  : a == "oon"  ? TCOON
                  : a == "ioff" ? TCIOFF
                                : TCION);
    } else if (what == "wait") {
        while (access(p[1].c_str(), F_OK) != 0)
            usleep(1000);
    } else if (what == "sleep") {
        r = usleep(static_cast<useconds_t>(std::stod(p[1]) * 1000));
    } else if (what == "cloexec") {
        r = fcntl(fd, F_SETFD, FD_CLOEXEC);
    } else if (what == "close") {
        r = close(fd);
    } else if (what == "uring_close") {
        const int res = uring_close(fd);
        if (res == -ENOSYS || res == -EPERM)
            exit(77);
        errno = -res;
        r = res == 0 ? 0 : -1;
    } else if (what == "exit") {
        syscall(SYS_exit, 0);
    } else if (what == "pass") {
        r = pass(fd, p[1]);
    } else if (what == "undumpable") {
        r = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    } else if (what == "modem" || what == "serial" || what == "lsr" || what == "counts") {
        r = driver_step(fd, p);
    } else if (what == "odd") {
        if (!odd_call(fd, line_path, p[1])) {
            fprintf(stderr, "sender: unknown odd call %s\n", p[1].c_str());
            return false;
        }
    } else {
        fprintf(stderr, "sender: unknown step %s\n", text.c_str());
        return false;
    }
    if (r != 0)
        fprintf(stderr, "sender: %s: %s\n", text.c_str(), strerror(errno));
    return r == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    line_path = argv[1];
    const std::string taken = "take:";
    int fd = strncmp(argv[1], taken.c_str(), taken.size()) == 0 ? take(argv[1] + taken.size())
                                                                : open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "exec") == 0 && i + 1 < argc) {
            execvp(argv[i + 1], argv + i + 1);
            perror(argv[i + 1]);
            return 1;
        }
        if (!step(fd, argv[i]))
            return 1;
    }
    return 0;
}
