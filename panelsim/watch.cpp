// SPDX-License-Identifier: MIT
// Kept apart from <termios.h>: the ioctl numbers and the layouts read from
// the programs come from the kernel's own terminal headers.
#include "watch.h"

#include <algorithm>
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace
{

// The calls the panel watches, by their numbers in one ABI; -1 where the ABI
// has no such call.
struct abi_calls {
    unsigned arch;
    // cppcheck-suppress unusedStructMember ; read through find_if
    int ioctl, close, dup2, dup3, exit_group, close_range;
};

constexpr int X32 = 0x40000000;

// Every ABI the running kernel may offer on this processor family. The
// ioctl numbers and the terminal layouts are the same within a family.
#if defined(__x86_64__) || defined(__i386__)
constexpr abi_calls ABIS[] = {
    {AUDIT_ARCH_X86_64, 16, 3, 33, 292, 231, 436},
    {AUDIT_ARCH_X86_64, X32 + 514, X32 + 3, X32 + 33, X32 + 292, X32 + 231, X32 + 436},
    {AUDIT_ARCH_I386, 54, 6, 63, 330, 252, 436},
};
#elif defined(__aarch64__) || defined(__arm__)
constexpr abi_calls ABIS[] = {
    {AUDIT_ARCH_AARCH64, 29, 57, -1, 24, 94, 436},
    {AUDIT_ARCH_ARM, 54, 6, 63, 358, 248, 436},
};
#elif defined(__mips__)
constexpr abi_calls ABIS[] = {
    {AUDIT_ARCH_MIPS, 4054, 4006, 4063, 4327, 4246, 4436},
    {AUDIT_ARCH_MIPSEL, 4054, 4006, 4063, 4327, 4246, 4436},
    {AUDIT_ARCH_MIPS64, 5015, 5003, 5032, 5286, 5205, 5436},
    {AUDIT_ARCH_MIPSEL64, 5015, 5003, 5032, 5286, 5205, 5436},
    {AUDIT_ARCH_MIPS64N32, 6015, 6003, 6032, 6290, 6205, 6436},
    {AUDIT_ARCH_MIPSEL64N32, 6015, 6003, 6032, 6290, 6205, 6436},
};
#elif defined(__powerpc__)
constexpr abi_calls ABIS[] = {
    {AUDIT_ARCH_PPC64LE, 54, 6, 63, 316, 234, 436},
    {AUDIT_ARCH_PPC64, 54, 6, 63, 316, 234, 436},
    {AUDIT_ARCH_PPC, 54, 6, 63, 316, 234, 436},
};
#elif defined(__riscv)
constexpr abi_calls ABIS[] = {
    {AUDIT_ARCH_RISCV64, 29, 57, -1, 24, 94, 436},
    {AUDIT_ARCH_RISCV32, 29, 57, -1, 24, 94, 436},
};
#else
#define WATCH_UNSUPPORTED
#endif

// The termios forms: TCSETS* with struct termios, TCSETS*2 with struct
// termios2 (not on powerpc, whose termios carries the speeds itself), and
// the System V TCSETA* with struct termio.
enum form { TERMIOS, TERMIOS2, TERMIO, DRAIN, FLUSH };
struct request {
    unsigned number;
    form how;         // cppcheck-suppress unusedStructMember ; read through find_if
    bool drain_first; // cppcheck-suppress unusedStructMember ; read through find_if
};
constexpr request REQUESTS[] = {
    {TCSETS, TERMIOS, false},   {TCSETSW, TERMIOS, true},   {TCSETSF, TERMIOS, true},
#ifdef TCSETS2
    {TCSETS2, TERMIOS2, false}, {TCSETSW2, TERMIOS2, true}, {TCSETSF2, TERMIOS2, true},
#endif
    {TCSETA, TERMIO, false},    {TCSETAW, TERMIO, true},    {TCSETAF, TERMIO, true},
    {TCSBRK, DRAIN, true},      {TCSBRKP, DRAIN, true},     {TCFLSH, FLUSH, false},
};

// The low 32 bits of an argument, whatever the byte order.
constexpr unsigned low_word(unsigned arg)
{
    return static_cast<unsigned>(offsetof(seccomp_data, args[0]) + std::size_t{arg} * 8 +
                                 (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0));
}

struct speed_code {
    unsigned code;
    long baud; // cppcheck-suppress unusedStructMember ; read through find_if
};

constexpr speed_code SPEEDS[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

// The speed a code stands for; other is the speed given apart (BOTHER).
long speed_of(unsigned code, long other)
{
    if (code == BOTHER)
        return other;
    const auto *s = std::find_if(std::begin(SPEEDS), std::end(SPEEDS),
                                 [code](const speed_code &c) { return c.code == code; });
    return s != std::end(SPEEDS) ? s->baud : -1;
}

// The settings the kernel's flag words and speeds stand for. ispeed and
// ospeed are those given apart from the flags (-1: not given; the line's
// own stay).
line_settings settings_of(unsigned iflag, unsigned oflag, unsigned cflag, unsigned lflag,
                          long ispeed, long ospeed, const line_settings &current)
{
    line_settings s;
    s.iflag = iflag;
    s.oflag = oflag;
    s.cflag = cflag;
    s.lflag = lflag;
    s.baud = speed_of(cflag & CBAUD, ospeed >= 0 ? ospeed : current.baud);
    const unsigned in = (cflag & CIBAUD) >> IBSHIFT;
    s.in_baud = in == 0 ? 0 : speed_of(in, ispeed >= 0 ? ispeed : current.in_baud);
    switch (cflag & CSIZE) {
    case CS5:
        s.data_bits = 5;
        break;
    case CS6:
        s.data_bits = 6;
        break;
    case CS7:
        s.data_bits = 7;
        break;
    default:
        s.data_bits = 8;
    }
    if ((cflag & PARENB) == 0)
        s.parity = 'N';
    else if (cflag & CMSPAR)
        s.parity = (cflag & PARODD) != 0 ? 'M' : 'S';
    else
        s.parity = (cflag & PARODD) != 0 ? 'O' : 'E';
    s.stop_bits = (cflag & CSTOPB) != 0 ? 2 : 1;
    return s;
}

#ifdef TCSETS2
using kernel_termios = termios2;
constexpr unsigned GET = TCGETS2;
#else
using kernel_termios = termios; // carries the speeds itself
constexpr unsigned GET = TCGETS;
#endif

line_settings settings_of(const kernel_termios &t, const line_settings &current)
{
    return settings_of(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, static_cast<long>(t.c_ispeed),
                       static_cast<long>(t.c_ospeed), current);
}

// Copies size bytes at addr in the program pid; 0, or the errno.
int read_program(pid_t pid, std::uint64_t addr, void *to, std::size_t size)
{
    const iovec local{to, size};
    // An address in the watched program, not in ours.
    const iovec remote{reinterpret_cast<void *>(addr), size}; // NOLINT(performance-no-int-to-ptr)
    const ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(size))
        return 0;
    return n >= 0 ? EFAULT : errno;
}

// A number that names a process or a descriptor in /proc; -1 for any other name.
int number(const char *name)
{
    char *end = nullptr;
    const long n = strtol(name, &end, 10);
    return end != name && *end == '\0' && n >= 0 && n <= 0x7fffffff ? static_cast<int>(n) : -1;
}

std::vector<int> open_fds(pid_t pid)
{
    std::vector<int> fds;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return fds;
    while (const dirent *e = readdir(d))
        if (const int fd = number(e->d_name); fd >= 0)
            fds.push_back(fd);
    closedir(d);
    return fds;
}

// The device a descriptor of a process is open on: 0 for none or not a
// device, and CANNOT_TELL where the process may not be looked into (a
// program that made itself undumpable, another user's).
constexpr dev_t CANNOT_TELL = ~dev_t{0};

dev_t device_of(pid_t pid, long long fd)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd/%lld", pid, fd);
    struct stat st {
    };
    if (stat(path, &st) != 0)
        return errno == EACCES || errno == EPERM ? CANNOT_TELL : 0;
    return S_ISCHR(st.st_mode) ? st.st_rdev : 0;
}

} // namespace

#ifdef WATCH_UNSUPPORTED
int watch_install(bool, std::string &why)
{
    why = "not supported on this processor";
    return -1;
}
#else
int watch_install(bool watch_closes, std::string &why)
{
    // For each ABI, its calls: an ioctl goes on to the requests, a call that
    // may close a descriptor is handed over, any other goes on. A program of
    // an ABI not listed falls through to have every call handed over.
    std::vector<sock_filter> prog;
    struct jump {
        std::size_t at;
        bool to_requests; // else to "hand over"
    };
    std::vector<jump> jumps;
    const auto stmt = [&](unsigned short code, unsigned k) { prog.push_back(BPF_STMT(code, k)); };
    const auto jeq = [&](unsigned k, bool to_requests) {
        jumps.push_back({prog.size(), to_requests});
        prog.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    };
    for (const auto *abi = std::begin(ABIS); abi != std::end(ABIS);) {
        // Entries that share an arch (x86_64 and x32) make one block.
        const auto *end = std::find_if(abi, std::end(ABIS),
                                       [&](const abi_calls &a) { return a.arch != abi->arch; });
        stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
        const std::size_t check = prog.size();
        prog.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, abi->arch, 0, 0));
        stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
        for (const auto *a = abi; a != end; a++) {
            jeq(static_cast<unsigned>(a->ioctl), true);
            if (watch_closes)
                for (const int nr : {a->close, a->dup2, a->dup3, a->exit_group, a->close_range})
                    if (nr >= 0)
                        jeq(static_cast<unsigned>(nr), false);
        }
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
        prog[check].jf = static_cast<unsigned char>(prog.size() - check - 1);
        abi = end;
    }
    stmt(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF);
    const std::size_t requests = prog.size();
    stmt(BPF_LD | BPF_W | BPF_ABS, low_word(1));
    for (const auto &r : REQUESTS)
        jeq(r.number, false);
    stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    const std::size_t hand_over = prog.size();
    stmt(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF);
    for (const auto &j : jumps)
        prog[j.at].jt =
            static_cast<unsigned char>((j.to_requests ? requests : hand_over) - j.at - 1);

    const sock_fprog fprog{static_cast<unsigned short>(prog.size()), prog.data()};
    // Without privilege a filter needs no_new_privs.
    if (geteuid() != 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = strerror(errno);
        return -1;
    }
    const long fd =
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &fprog);
    if (fd < 0) {
        why = strerror(errno);
        return -1;
    }
    return static_cast<int>(fd);
}
#endif

line_settings read_settings(int fd)
{
    kernel_termios t{};
    if (ioctl(fd, GET, &t) != 0)
        return {};
    return settings_of(t, line_settings{});
}

settings_watch::~settings_watch()
{
    stop();
}

void settings_watch::stop()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

int settings_watch::is_line(pid_t pid, std::uint64_t fd) const
{
    if (fd > 0x7fffffff)
        return 0;
    const dev_t dev = device_of(pid, static_cast<long long>(fd));
    return dev == CANNOT_TELL ? -1 : dev == line_ ? 1 : 0;
}

bool settings_watch::holds(pid_t pid) const
{
    const std::vector<int> fds = open_fds(pid);
    return std::any_of(fds.begin(), fds.end(), [&](int fd) { return device_of(pid, fd) == line_; });
}

// Whether any process but the panel and the one closing has the line open,
// or the closing one on another descriptor.
bool settings_watch::held_elsewhere(pid_t pid, const std::vector<int> &closing) const
{
    for (const int other_fd : open_fds(pid))
        if (std::find(closing.begin(), closing.end(), other_fd) == closing.end() &&
            device_of(pid, other_fd) == line_)
            return true;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return true;
    bool held = false;
    while (const dirent *e = readdir(proc)) {
        const pid_t other = number(e->d_name);
        if (other > 0 && other != pid && other != getpid() && holds(other)) {
            held = true;
            break;
        }
    }
    closedir(proc);
    return held;
}

bool settings_watch::receive(line_call &call, const line_settings &current)
{
    seccomp_notif req{};
    if (ioctl(fd_, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
        return errno == EINTR || errno == ENOENT;
    call = line_call{};
    call.id = req.id;
    call.pid = static_cast<pid_t>(req.pid);

    const auto *abi = std::find_if(std::begin(ABIS), std::end(ABIS),
                                   [&](const abi_calls &a) { return a.arch == req.data.arch; });
    if (abi == std::end(ABIS)) {
        char why[96];
        snprintf(why, sizeof why, "a program of another ABI (audit arch %#x) runs", req.data.arch);
        call.kind = line_call::blind;
        call.why = why;
        return true;
    }
    // x86_64's entry and x32's share the arch: the call is whichever has it.
    for (const auto *a = abi; a != std::end(ABIS) && a->arch == req.data.arch; a++)
        if (a->ioctl == req.data.nr || a->close == req.data.nr || a->dup2 == req.data.nr ||
            a->dup3 == req.data.nr || a->exit_group == req.data.nr || a->close_range == req.data.nr)
            abi = a;
    const int nr = req.data.nr;
    const auto &args = req.data.args;

    if (nr == abi->ioctl) {
        const auto request = static_cast<unsigned>(args[1]);
        const auto *r = std::find_if(std::begin(REQUESTS), std::end(REQUESTS),
                                     [&](const struct request &q) { return q.number == request; });
        if (r == std::end(REQUESTS))
            return true;
        call.drain_first = r->drain_first;
        const int line = is_line(call.pid, args[0]);
        if (line == 0)
            return true;
        if (line < 0) {
            // Perhaps the line: a drain is waited for, a change not seen.
            if (r->how == DRAIN || r->drain_first)
                call.kind = line_call::drain;
            if (r->how == TERMIOS || r->how == TERMIOS2 || r->how == TERMIO) {
                call.kind = line_call::set;
                call.settings = current;
                call.settings.known = false;
                call.why = "cannot see which file process " + std::to_string(call.pid) +
                           " set the settings of (" + strerror(EACCES) + ")";
            }
            return true;
        }
        int err = 0;
        switch (r->how) {
        case DRAIN:
            call.kind = line_call::drain;
            return true;
        case FLUSH:
            if (args[2] == TCOFLUSH || args[2] == TCIOFLUSH)
                call.kind = line_call::flush_output;
            return true;
        case TERMIO: {
            termio t{};
            if ((err = read_program(call.pid, args[2], &t, sizeof t)) == 0) {
                // Only the low 16 bits of each flag word are replaced.
                const auto merge = [](unsigned now, unsigned short asked) {
                    return (now & 0xffff0000U) | asked;
                };
                call.settings =
                    settings_of(merge(current.iflag, t.c_iflag), merge(current.oflag, t.c_oflag),
                                merge(current.cflag, t.c_cflag), merge(current.lflag, t.c_lflag),
                                -1, -1, current);
            }
            break;
        }
        case TERMIOS: {
            termios t{};
            if ((err = read_program(call.pid, args[2], &t, sizeof t)) == 0) {
#ifdef TCSETS2
                call.settings =
                    settings_of(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, -1, -1, current);
#else
                call.settings = settings_of(t, current);
#endif
            }
            break;
        }
        case TERMIOS2: {
            kernel_termios t{};
            if ((err = read_program(call.pid, args[2], &t, sizeof t)) == 0)
                call.settings = settings_of(t, current);
            break;
        }
        }
        // A request at a bad address fails in the kernel too: nothing changes.
        if (err == EFAULT)
            return true;
        call.kind = line_call::set;
        if (err != 0) {
            call.settings = current;
            call.settings.known = false;
            call.why = "cannot read the settings that process " + std::to_string(call.pid) +
                       " asked for (" + strerror(err) + ")";
        }
        return true;
    }

    // A call that may close the line: which descriptors it closes.
    std::vector<int> closing;
    if (nr == abi->close || ((nr == abi->dup2 || nr == abi->dup3) && args[0] != args[1])) {
        closing.push_back(static_cast<int>(nr == abi->close ? args[0] : args[1]));
    } else if (nr == abi->close_range) {
        constexpr unsigned CLOEXEC_ONLY = 1U << 2; // CLOSE_RANGE_CLOEXEC
        const std::vector<int> fds = open_fds(call.pid);
        if ((args[2] & CLOEXEC_ONLY) == 0)
            std::copy_if(fds.begin(), fds.end(), std::back_inserter(closing), [&](int open_fd) {
                return static_cast<std::uint64_t>(open_fd) >= args[0] &&
                       static_cast<std::uint64_t>(open_fd) <= (args[1] & 0xffffffffU);
            });
    } else if (nr == abi->exit_group) {
        closing = open_fds(call.pid);
    }
    const bool closes_line = std::any_of(closing.begin(), closing.end(), [&](int closed) {
        // A descriptor that may not be looked into may be the line.
        return closed >= 0 && is_line(call.pid, static_cast<std::uint64_t>(closed)) != 0;
    });
    if (closes_line && !held_elsewhere(call.pid, closing))
        call.kind = line_call::last_close;
    return true;
}

void settings_watch::answer(const line_call &call) const
{
    seccomp_notif_resp resp{};
    resp.id = call.id;
    resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
}
