// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// bench_calls: what one watched call costs a program, and a crowd of
// processes to measure the panel beside.
//
//   bench_calls write PATH N        N one-byte writes to the line at PATH, set
//                                   to 4000000 baud 8N1 raw first; prints
//                                   "bench_calls: NS ns a write" on standard
//                                   error, apart from a panel's reports
//   bench_calls plain N             the same on a pseudo-terminal of its own,
//                                   read as fast as it is written
//   bench_calls supervised N [sync] the same, each write handed to a bare
//                                   supervisor that lets it go on at once
//                                   (sync: with SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP;
//                                   prints "no sync" and exits 77 where the
//                                   kernel lacks it)
//   bench_calls crowd P F           P sleeping processes holding F descriptors
//                                   each; prints "ready", and ends them all when
//                                   its standard input ends
//
// The bare supervisor is what a panel cannot do less than: the kernel's
// round trip of seccomp's user notification, and nothing else.
#include "seccomp_compat.h"

#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <stddef.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

long long now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// 4000000 baud 8N1 raw, as a program sets its port before it writes.
void set_fast(int fd)
{
    termios2 t{};
    t.c_cflag = BOTHER | CS8 | CREAD | CLOCAL;
    t.c_ispeed = t.c_ospeed = 4000000;
    (void)ioctl(fd, TCSETS2, &t);
}

// N one-byte writes; nanoseconds a write, or -1.
long long writes(int fd, long n)
{
    const unsigned char byte = 0x45;
    const long long start = now_ns();
    for (long i = 0; i < n; i++)
        if (write(fd, &byte, 1) != 1)
            return -1;
    return (now_ns() - start) / n;
}

int report(long long ns)
{
    if (ns < 0) {
        perror("bench_calls: write");
        return 1;
    }
    fprintf(stderr, "bench_calls: %lld ns a write\n", ns);
    return 0;
}

// A pseudo-terminal pair; false when there is none to be had.
bool open_pty(int &master, int &slave)
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    return slave >= 0;
}

// Reads the master side until it ends.
void drain(int master)
{
    char buf[4096];
    while (read(master, buf, sizeof buf) > 0) {
    }
}

#if defined(__x86_64__)
constexpr unsigned ARCH = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned ARCH = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr unsigned ARCH = AUDIT_ARCH_ARM;
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned ARCH = AUDIT_ARCH_PPC64LE;
#elif defined(__i386__)
constexpr unsigned ARCH = AUDIT_ARCH_I386;
#else
constexpr unsigned ARCH = 0; // the processor's calls are not told apart: all are handed over
#endif

// A filter that hands every write over, and lets every other call go.
int install_filter()
{
    sock_filter prog[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog fprog{sizeof prog / sizeof prog[0], prog};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return -1;
    return static_cast<int>(
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &fprog));
}

// The listener the child installed, taken out of it: the child says its
// number without a write (a write would be handed over).
int take_listener(pid_t child, int sock)
{
    int number = -1;
    if (recv(sock, &number, sizeof number, 0) != sizeof number || number < 0)
        return -1;
    const long pidfd = syscall(SYS_pidfd_open, child, 0);
    return pidfd < 0 ? -1 : static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, number, 0));
}

// Lets every call handed over go on at once, until the writer has ended:
// the kernel's round trip and nothing else (a process of its own reads the
// line).
void supervise(int listener)
{
    for (;;) {
        pollfd pfd{listener, POLLIN, 0};
        if (poll(&pfd, 1, -1) < 0 || (pfd.revents & POLLIN) == 0)
            return; // no writer is left
        seccomp_notif req{};
        if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
            continue;
        seccomp_notif_resp resp{};
        resp.id = req.id;
        resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        (void)ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &resp);
    }
}

// A process of its own that reads the line as fast as it is written,
// until the writer has closed it.
pid_t reader(int master, int slave)
{
    const pid_t pid = fork();
    if (pid == 0) {
        close(slave);
        drain(master);
        _exit(0);
    }
    return pid;
}

int supervised(long n, bool sync)
{
    int master = -1;
    int slave = -1;
    int sv[2];
    if (!open_pty(master, slave) || socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 1;
    const pid_t drainer = reader(master, slave);
    close(master);
    const pid_t child = fork();
    if (child == 0) {
        set_fast(slave);
        const int listener = install_filter();
        (void)send(sv[1], &listener, sizeof listener, 0);
        // The result goes out through the socket: a write to standard
        // output would be handed over too.
        const long long ns = writes(slave, n);
        _exit(send(sv[1], &ns, sizeof ns, 0) == sizeof ns ? 0 : 1);
    }
    close(slave);
    const int listener = take_listener(child, sv[0]);
    if (listener < 0) {
        fprintf(stderr, "bench_calls: no seccomp listener\n");
        return 1;
    }
    if (sync && ioctl(listener, SECCOMP_IOCTL_NOTIF_SET_FLAGS,
                      static_cast<__u64>(SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP)) != 0) {
        printf("no sync\n");
        kill(child, SIGKILL);
        kill(drainer, SIGKILL);
        return 77;
    }
    supervise(listener);
    (void)waitpid(child, nullptr, 0);
    (void)waitpid(drainer, nullptr, 0);
    long long ns = -1;
    (void)recv(sv[0], &ns, sizeof ns, MSG_DONTWAIT);
    return report(ns);
}

int plain(long n)
{
    int master = -1;
    int slave = -1;
    if (!open_pty(master, slave))
        return 1;
    const pid_t drainer = reader(master, slave);
    close(master);
    set_fast(slave);
    const long long ns = writes(slave, n);
    close(slave);
    (void)waitpid(drainer, nullptr, 0);
    return report(ns);
}

int line(const char *path, long n)
{
    const int fd = open(path, O_WRONLY | O_NOCTTY);
    if (fd < 0) {
        perror(path);
        return 1;
    }
    set_fast(fd);
    return report(writes(fd, n));
}

// P processes that each hold F descriptors and sleep, until standard input ends.
int crowd(long processes, long fds)
{
    std::vector<pid_t> sleepers;
    for (long p = 0; p < processes; p++) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (long f = 0; f < fds; f++)
                (void)open("/dev/null", O_RDONLY);
            pause();
            _exit(0);
        }
        if (pid > 0)
            sleepers.push_back(pid);
    }
    printf("ready\n");
    fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    for (const pid_t pid : sleepers)
        kill(pid, SIGKILL);
    for (const pid_t pid : sleepers)
        (void)waitpid(pid, nullptr, 0);
    return 0;
}

long number(const char *text)
{
    return strtol(text, nullptr, 10);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 4)
        return line(argv[2], number(argv[3]));
    if (mode == "plain" && argc == 3)
        return plain(number(argv[2]));
    if (mode == "supervised" && argc >= 3)
        return supervised(number(argv[2]), argc > 3 && std::string(argv[3]) == "sync");
    if (mode == "crowd" && argc == 4)
        return crowd(number(argv[2]), number(argv[3]));
    fprintf(stderr,
            "usage: bench_calls write PATH N | plain N | supervised N [sync] | crowd P F\n");
    return 2;
}
