// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "line_lock.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

const std::string PREFIX = "panelsim-line:";
const std::string PID_PREFIX = "panelsim-line-pid:";

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

// The abstract socket address (a leading zero byte) named name; the names
// made here always fit.
socklen_t address(const std::string &name, sockaddr_un &addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    const std::size_t n = name.copy(addr.sun_path + 1, sizeof addr.sun_path - 1);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

// The lock's name for a canonical path: PREFIX + path, or, where that does
// not fit, PREFIX + the path's hash + as much of its end as fits.
std::string lock_name(const std::string &path)
{
    const std::size_t room = sizeof sockaddr_un::sun_path - 1;
    std::string name = PREFIX + path;
    if (name.size() > room) {
        char h[20];
        snprintf(h, sizeof h, "%016llx:", static_cast<unsigned long long>(hash(path)));
        name = PREFIX + h;
        name += path.substr(path.size() - (room - name.size()));
    }
    return name;
}

// The start of the name under which the holder of path makes its pid known:
// the path's hash and the pid namespace, in which alone the pid means a
// process.
std::string pid_name(const std::string &path)
{
    struct stat ns {
    };
    (void)stat("/proc/self/ns/pid", &ns);
    char name[80];
    snprintf(name, sizeof name, "%s%016llx:%llu:", PID_PREFIX.c_str(),
             static_cast<unsigned long long>(hash(path)),
             static_cast<unsigned long long>(ns.st_ino));
    return name;
}

// A socket bound to the abstract name; -1 with errno set when it cannot be.
int bound(const std::string &name)
{
    sockaddr_un addr{};
    const socklen_t len = address(name, addr);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<const sockaddr *>(&addr), len) != 0) {
        const int error = errno;
        (void)close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The pid in the one bound name that begins with prefix, as the kernel
// lists bound names (the name last, after seven fields); 0 when there is
// none, or more than one.
pid_t published(const std::string &prefix)
{
    FILE *f = fopen("/proc/net/unix", "re");
    if (f == nullptr)
        return 0;
    const std::string start = "@" + prefix;
    char *line = nullptr;
    std::size_t cap = 0;
    pid_t pid = 0;
    int found = 0;
    while (getline(&line, &cap, f) > 0) {
        int at = -1;
        (void)sscanf(line, "%*s %*s %*s %*s %*s %*s %*s %n", &at);
        if (at < 0 || strncmp(line + at, start.c_str(), start.size()) != 0)
            continue;
        char *end = nullptr;
        const long n = strtol(line + at + start.size(), &end, 10);
        if (n > 0 && n <= INT_MAX && (*end == '\n' || *end == '\0')) {
            pid = static_cast<pid_t>(n);
            found++;
        }
    }
    free(line);
    (void)fclose(f);
    return found == 1 ? pid : 0;
}

// The holder's pid. It publishes its pid just after taking the lock and
// withdraws it just before giving the lock up, so it is missing (or a dead
// holder's is still there beside it) only for a moment: look again a while.
pid_t holder_of(const std::string &path)
{
    const std::string prefix = pid_name(path);
    for (int i = 0; i < 200; i++) {
        if (const pid_t pid = published(prefix); pid > 0)
            return pid;
        const timespec ms{0, 1000000};
        (void)nanosleep(&ms, nullptr);
    }
    return 0;
}

} // namespace

std::string line_lock::canonical(const std::string &path)
{
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    // "line/" names what "line" names.
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string base = trimmed.substr(slash == std::string::npos ? 0 : slash + 1);
    // "/", "." or "..": a folder, never a link.
    if (base.empty() || base == "." || base == "..") {
        errno = EEXIST;
        return {};
    }
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : trimmed.substr(0, slash));
    const std::unique_ptr<char, decltype(&free)> real(realpath(folder.c_str(), nullptr), &free);
    if (!real)
        return {};
    const std::string top(real.get());
    return (top == "/" ? "" : top) + "/" + base;
}

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
    const int fd = bound(lock_name(name));
    if (fd < 0) {
        const int error = errno;
        if (error == EADDRINUSE)
            holder_ = holder_of(name);
        errno = error == EADDRINUSE ? EBUSY : error;
        return false;
    }
    fd_ = fd;
    path_ = name;
    // Not having it only leaves askers without our pid.
    pid_fd_ = bound(pid_name(name) + std::to_string(getpid()));
    return true;
}

void line_lock::release()
{
    if (pid_fd_ >= 0)
        (void)close(pid_fd_);
    if (fd_ >= 0)
        (void)close(fd_);
    pid_fd_ = -1;
    fd_ = -1;
    path_.clear();
}
