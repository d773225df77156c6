// Kept apart from <termios.h>: the ioctl numbers and the layout read from the
// program come from the kernel's own terminal headers.
#include "watch.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
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

#if defined(__x86_64__)
constexpr unsigned ARCH = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned ARCH = AUDIT_ARCH_AARCH64;
#elif defined(__i386__)
constexpr unsigned ARCH = AUDIT_ARCH_I386;
#elif defined(__arm__)
constexpr unsigned ARCH = AUDIT_ARCH_ARM;
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned ARCH = AUDIT_ARCH_PPC64LE;
#elif defined(__riscv) && __riscv_xlen == 64
constexpr unsigned ARCH = AUDIT_ARCH_RISCV64;
#else
#define WATCH_UNSUPPORTED
#endif

// The low 32 bits of the ioctl request, whatever the byte order.
constexpr unsigned REQUEST_LOW =
    offsetof(seccomp_data, args[1]) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);

constexpr unsigned SETTERS[] = {TCSETS, TCSETSW, TCSETSF, TCSETS2, TCSETSW2, TCSETSF2};

} // namespace

#ifdef WATCH_UNSUPPORTED
int watch_install(std::string &why)
{
    why = "not supported on this processor";
    return -1;
}
#else
int watch_install(std::string &why)
{
    constexpr auto N = static_cast<unsigned char>(std::size(SETTERS));
    sock_filter prog[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ioctl, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, REQUEST_LOW),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[0], N, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[1], N - 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[2], N - 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[3], N - 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[4], N - 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SETTERS[5], N - 5, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
    };
    const sock_fprog fprog{static_cast<unsigned short>(std::size(prog)), prog};
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

bool settings_watch::handle(const std::function<void()> &before_change)
{
    seccomp_notif req{};
    if (ioctl(fd_, SECCOMP_IOCTL_NOTIF_RECV, &req) != 0)
        return errno == EINTR || errno == ENOENT;

    // Is it our line? The descriptor, seen through /proc, names the device.
    char path[64];
    snprintf(path, sizeof path, "/proc/%u/fd/%llu", req.pid,
             static_cast<unsigned long long>(req.data.args[0]));
    struct stat st {
    };
    unsigned cflag = 0;
    const iovec local{&cflag, sizeof cflag};
    // An address in the watched program, not in ours.
    const iovec remote{reinterpret_cast<void *>( // NOLINT(performance-no-int-to-ptr)
                           req.data.args[2] + offsetof(termios, c_cflag)),
                       sizeof cflag};
    if (stat(path, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == line_ &&
        process_vm_readv(static_cast<pid_t>(req.pid), &local, 1, &remote, 1, 0) ==
            static_cast<ssize_t>(sizeof cflag) &&
        ioctl(fd_, SECCOMP_IOCTL_NOTIF_ID_VALID, &req.id) == 0) {
        before_change();
        cflag_ = cflag;
        seen_ = true;
    }

    seccomp_notif_resp resp{};
    resp.id = req.id;
    resp.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    (void)ioctl(fd_, SECCOMP_IOCTL_NOTIF_SEND, &resp);
    return true;
}
