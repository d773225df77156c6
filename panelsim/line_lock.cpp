// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "line_lock.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

const std::string PREFIX = "panelsim-line:";

// The path with its folder resolved: one name for every way of writing it
// ("./x", "dir/../x", a linked folder). The last part is left as it is, since
// it is the line's link itself. Empty, with errno set, when the folder cannot
// be resolved.
std::string canonical(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::unique_ptr<char, decltype(&free)> real(realpath(folder.c_str(), nullptr), &free);
    if (!real)
        return {};
    const std::string base(real.get());
    return (base == "/" ? "" : base) + "/" +
           path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// 64-bit FNV-1a.
std::uint64_t hash(const std::string &s)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

// The socket address for a canonical path: the abstract name (a leading
// zero byte) PREFIX + path, or, where that does not fit, PREFIX + the
// path's hash + as much of its end as fits.
socklen_t address(const std::string &path, sockaddr_un &addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    const std::size_t room = sizeof addr.sun_path - 1;
    std::string name = PREFIX + path;
    if (name.size() > room) {
        char h[20];
        snprintf(h, sizeof h, "%016llx:", static_cast<unsigned long long>(hash(path)));
        name = PREFIX + h;
        name += path.substr(path.size() - (room - name.size()));
    }
    name.copy(addr.sun_path + 1, name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// The pid of the process listening at addr; 0 when it cannot be learned
// (it is not listening yet, or its queue of connections is full).
pid_t listener(const sockaddr_un &addr, socklen_t len)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return 0;
    ucred cred{};
    socklen_t cred_len = sizeof cred;
    pid_t pid = 0;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), len) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &cred_len) == 0)
        pid = cred.pid;
    (void)close(fd);
    return pid;
}

} // namespace

line_lock::~line_lock()
{
    release();
}

bool line_lock::take(const std::string &path)
{
    release();
    holder_ = 0;
    const std::string name = canonical(path);
    if (name.empty())
        return false;
    sockaddr_un addr{};
    const socklen_t len = address(name, addr);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A few connections wait unaccepted, each telling one asker our pid.
    if (bind(fd, reinterpret_cast<const sockaddr *>(&addr), len) != 0 || listen(fd, 16) != 0) {
        const int error = errno;
        (void)close(fd);
        if (error == EADDRINUSE)
            holder_ = listener(addr, len);
        errno = error == EADDRINUSE ? EBUSY : error;
        return false;
    }
    fd_ = fd;
    return true;
}

void line_lock::release()
{
    if (fd_ >= 0)
        (void)close(fd_);
    fd_ = -1;
}
