// SPDX-License-Identifier: MIT
#include "odd_calls.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace
{

const unsigned char FRAME[8] = {0x45, 1, 1, 1, 1, 1, 0, 0};
// An address that no program can read: the first page is never mapped.
void *const UNMAPPED = reinterpret_cast<void *>(std::uintptr_t{8});
// An address in the kernel's half of the address space.
void *const KERNEL_HALF = reinterpret_cast<void *>(~std::uintptr_t{0} - 4095);
// A descriptor below every process's table size that the sender never opens.
constexpr int CLOSED_FD = 20;

// The call's value, or the name of its error.
std::string said(long r)
{
    return r >= 0 ? std::to_string(r) : std::string(strerror(errno));
}

// 3000 bytes of frames of which the last 500 lie in a page that is not mapped.
long half_mapped(int fd)
{
    auto *pages = static_cast<unsigned char *>(
        mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (pages == MAP_FAILED || munmap(pages + 4096, 4096) != 0)
        return -1;
    unsigned char *buf = pages + 4096 - 2500;
    for (int i = 0; i < 2500; i++)
        buf[i] = FRAME[i % 8];
    return write(fd, buf, 3000);
}

long writev_of(int fd, std::initializer_list<iovec> iov)
{
    return writev(fd, iov.begin(), static_cast<int>(iov.size()));
}

long too_many_buffers(int fd)
{
    static iovec iov[1025];
    for (iovec &v : iov)
        v = {const_cast<unsigned char *>(FRAME), 1};
    return writev(fd, iov, 1025);
}

long read_only(const char *path)
{
    const int ro = open(path, O_RDONLY | O_NOCTTY);
    const long r = write(ro, FRAME, 8);
    const int err = errno;
    close(ro);
    errno = err;
    return r;
}

// A poll of the line for output and of a closed descriptor: what the kernel
// says of the closed one.
std::string poll_closed(int fd)
{
    pollfd fds[2] = {{fd, POLLOUT, 0}, {CLOSED_FD, POLLIN, 0}};
    const int r = poll(fds, 2, 1000);
    return r < 0 ? said(r) : "revents " + std::to_string(fds[1].revents);
}

long poll_over_limit(int fd)
{
    rlimit was{};
    getrlimit(RLIMIT_NOFILE, &was);
    rlimit low = was;
    low.rlim_cur = 16;
    setrlimit(RLIMIT_NOFILE, &low);
    pollfd fds[17];
    for (pollfd &p : fds)
        p = {-1, POLLIN, 0};
    fds[0] = {fd, POLLOUT, 0};
    const long r = poll(fds, 17, 1000);
    const int err = errno;
    setrlimit(RLIMIT_NOFILE, &was);
    errno = err;
    return r;
}

long ppoll_with(int fd, timespec ts, std::size_t mask_size)
{
    pollfd p = {fd, POLLOUT, 0};
    std::uint64_t mask[2] = {};
    return syscall(SYS_ppoll, &p, 1, &ts, mask_size != 0 ? mask : nullptr, mask_size);
}

long select_with(int fd, int n, int in_fd, timeval tv)
{
    fd_set in;
    fd_set out;
    FD_ZERO(&in);
    FD_ZERO(&out);
    FD_SET(fd, &out);
    if (in_fd >= 0)
        FD_SET(in_fd, &in);
    return select(n, &in, &out, nullptr, &tv);
}

long pselect_with(int fd, timespec ts)
{
    fd_set out;
    FD_ZERO(&out);
    FD_SET(fd, &out);
    return pselect(fd + 1, nullptr, &out, nullptr, &ts, nullptr);
}

// Made as raw calls where the C library's declarations would refuse them.
long writes(int fd, const char *path, const std::string &name)
{
    auto *frame = const_cast<unsigned char *>(FRAME);
    if (name == "write_null")
        return syscall(SYS_write, fd, nullptr, 8);
    if (name == "write_huge_count")
        return syscall(SYS_write, fd, FRAME, SIZE_MAX);
    if (name == "write_half_mapped")
        return half_mapped(fd);
    if (name == "write_read_only")
        return read_only(path);
    if (name == "writev_too_many")
        return too_many_buffers(fd);
    if (name == "writev_negative_count")
        return syscall(SYS_writev, fd, nullptr, -1);
    if (name == "writev_none")
        return writev(fd, nullptr, 0);
    if (name == "writev_bad_array")
        return syscall(SYS_writev, fd, UNMAPPED, 1);
    if (name == "writev_negative_length")
        return writev_of(fd, {{frame, SIZE_MAX}});
    if (name == "writev_overflow")
        return writev_of(fd, {{frame, SSIZE_MAX}, {frame, SSIZE_MAX}});
    if (name == "writev_bad_base")
        return writev_of(fd, {{frame, 8}, {UNMAPPED, 8}});
    if (name == "writev_kernel_base")
        return writev_of(fd, {{frame, 8}, {KERNEL_HALF, 8}});
    errno = ENOSYS;
    return -2;
}

long waits(int fd, const std::string &name)
{
    if (name == "poll_over_limit")
        return poll_over_limit(fd);
    if (name == "ppoll_bad_time")
        return ppoll_with(fd, {0, 1000000000}, 0);
    if (name == "ppoll_bad_mask_size")
        return ppoll_with(fd, {1, 0}, 4);
    if (name == "select_closed")
        return select_with(fd, CLOSED_FD + 1, CLOSED_FD, {1, 0});
    if (name == "select_negative")
        return select_with(fd, -1, -1, {1, 0});
    if (name == "select_bad_time")
        return select_with(fd, fd + 1, -1, {1, -1});
    if (name == "pselect_bad_time")
        return pselect_with(fd, {0, 1000000000});
    errno = ENOSYS;
    return -2;
}

long requests(int fd, const std::string &name)
{
    if (name == "flush_bad_queue")
        return ioctl(fd, TCFLSH, 7);
    if (name == "flow_bad_action")
        return ioctl(fd, TCXONC, 9);
    if (name == "set_bad_address")
        return ioctl(fd, TCSETS, UNMAPPED);
    if (name == "set_drained_bad_address")
        return ioctl(fd, TCSETSW, UNMAPPED);
    if (name == "get_bad_address")
        return ioctl(fd, TCGETS, UNMAPPED);
    if (name == "outq_bad_address")
        return ioctl(fd, TIOCOUTQ, UNMAPPED);
    errno = ENOSYS;
    return -2;
}

} // namespace

bool odd_call(int fd, const char *path, const std::string &name)
{
    std::string outcome;
    if (name == "poll_closed") {
        outcome = poll_closed(fd);
    } else {
        long r = writes(fd, path, name);
        if (r == -2)
            r = waits(fd, name);
        if (r == -2)
            r = requests(fd, name);
        if (r == -2)
            return false;
        outcome = said(r);
    }
    printf("odd %s: %s\n", name.c_str(), outcome.c_str());
    return true;
}
