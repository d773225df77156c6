// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "procs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace
{

// A number that names a process or a descriptor in /proc; -1 for any other name.
int number(const char *name)
{
    char *end = nullptr;
    const long n = strtol(name, &end, 10);
    return end != name && *end == '\0' && n >= 0 && n <= 0x7fffffff ? static_cast<int>(n) : -1;
}

std::string proc(pid_t pid, const char *what)
{
    return "/proc/" + std::to_string(pid) + "/" + what;
}

// The remote address, as a pointer: an address in the watched program, not in ours.
void *remote(std::uint64_t addr)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(addr));
}

// The number after `key` on the first line of /proc/PID/what that starts
// with it; -1 when there is none.
long long proc_number(pid_t pid, const char *what, const char *key)
{
    FILE *f = fopen(proc(pid, what).c_str(), "re");
    if (f == nullptr)
        return -1;
    long long n = -1;
    char line[256];
    const std::size_t len = strlen(key);
    while (n < 0 && fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, key, len) == 0) {
            char *end = nullptr;
            const long long v = strtoll(line + len, &end, 10);
            n = end != line + len && v >= 0 ? v : -1;
        }
    fclose(f);
    return n;
}

} // namespace

tell is_open(pid_t pid, long long fd)
{
    if (fd < 0 || fd > 0x7fffffff)
        return tell::no;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd/%lld", pid, fd);
    struct stat st {
    };
    if (lstat(path, &st) == 0)
        return tell::yes;
    return errno == ENOENT ? tell::no : tell::cannot;
}

tell names_line(pid_t pid, long long fd, dev_t line)
{
    if (fd < 0 || fd > 0x7fffffff)
        return tell::no;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd/%lld", pid, fd);
    struct stat st {
    };
    if (stat(path, &st) != 0)
        return errno == EACCES || errno == EPERM ? tell::cannot : tell::no;
    return S_ISCHR(st.st_mode) && st.st_rdev == line ? tell::yes : tell::no;
}

tell is_line(pid_t pid, long long fd, dev_t line)
{
    const tell names = names_line(pid, fd, line);
    if (names != tell::yes)
        return names;
    const long flags = fd_flags(pid, static_cast<int>(fd));
    if (flags < 0)
        return tell::cannot;
    return (flags & O_PATH) != 0 ? tell::no : tell::yes;
}

std::vector<int> open_fds(pid_t pid)
{
    std::vector<int> fds;
    DIR *d = opendir(proc(pid, "fd").c_str());
    if (d == nullptr)
        return fds;
    while (const dirent *e = readdir(d))
        if (const int fd = number(e->d_name); fd >= 0)
            fds.push_back(fd);
    closedir(d);
    return fds;
}

long fd_flags(pid_t pid, int fd)
{
    FILE *f = fopen(proc(pid, ("fdinfo/" + std::to_string(fd)).c_str()).c_str(), "re");
    if (f == nullptr)
        return -1;
    long flags = -1;
    char line[128];
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, "flags:", 6) == 0)
            flags = strtol(line + 6, nullptr, 8);
    fclose(f);
    return flags;
}

namespace
{

// A path through /proc/self or /proc/thread-self names the caller's own
// entries: from here, those of pid's.
std::string as_seen_by(pid_t pid, const std::string &path)
{
    for (const char *self : {"/proc/self/", "/proc/thread-self/"})
        if (path.rfind(self, 0) == 0)
            return "/proc/" + std::to_string(pid) + "/" + path.substr(strlen(self));
    return path;
}

} // namespace

dev_t device_at(pid_t pid, int dirfd, const std::string &path)
{
    std::string at;
    if (!path.empty() && path[0] == '/')
        at = proc(pid, "root") + as_seen_by(pid, path);
    else if (dirfd == AT_FDCWD)
        at = proc(pid, "cwd") + "/" + path;
    else
        at = proc(pid, ("fd/" + std::to_string(dirfd)).c_str()) + "/" + path;
    struct stat st {
    };
    if (stat(at.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    return st.st_rdev;
}

int read_memory(pid_t pid, std::uint64_t addr, void *to, std::size_t size)
{
    const iovec local{to, size};
    const iovec far{remote(addr), size};
    const ssize_t n = process_vm_readv(pid, &local, 1, &far, 1, 0);
    if (n == static_cast<ssize_t>(size))
        return 0;
    return n >= 0 ? EFAULT : errno;
}

int write_memory(pid_t pid, std::uint64_t addr, const void *from, std::size_t size)
{
    const iovec local{const_cast<void *>(from), size};
    const iovec far{remote(addr), size};
    const ssize_t n = process_vm_writev(pid, &local, 1, &far, 1, 0);
    if (n == static_cast<ssize_t>(size))
        return 0;
    return n >= 0 ? EFAULT : errno;
}

std::optional<std::string> read_string(pid_t pid, std::uint64_t addr, std::size_t max)
{
    std::string s;
    char chunk[256];
    while (s.size() < max) {
        // A string may end just before an unmapped page: read up to page ends.
        const std::size_t to_page = 4096 - (addr % 4096);
        const std::size_t n = std::min(sizeof chunk, to_page);
        if (read_memory(pid, addr, chunk, n) != 0)
            return std::nullopt;
        const void *nul = memchr(chunk, '\0', n);
        if (nul != nullptr) {
            s.append(chunk, static_cast<std::size_t>(static_cast<const char *>(nul) - chunk));
            return s;
        }
        s.append(chunk, n);
        addr += n;
    }
    return std::nullopt;
}

int dup_fd(pid_t pid, int fd)
{
    const long pidfd = syscall(SYS_pidfd_open, pid, 0);
    if (pidfd < 0)
        return -1;
    const long got = syscall(SYS_pidfd_getfd, static_cast<int>(pidfd), fd, 0);
    const int err = errno;
    close(static_cast<int>(pidfd));
    errno = err;
    return static_cast<int>(got);
}

pid_t thread_group(pid_t tid)
{
    FILE *f = fopen(proc(tid, "status").c_str(), "re");
    if (f == nullptr)
        return tid;
    pid_t tgid = tid;
    char line[128];
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, "Tgid:", 5) == 0)
            tgid = static_cast<pid_t>(strtol(line + 5, nullptr, 10));
    fclose(f);
    return tgid;
}

long thread_count(pid_t pid)
{
    return static_cast<long>(std::max(0LL, proc_number(pid, "status", "Threads:")));
}

namespace
{

// What /proc/PID/stat holds after the command name, ") S PPID ...": the
// state, then the parent; empty when it cannot be read.
std::string stat_after_name(pid_t pid)
{
    char text[512] = {};
    FILE *f = fopen(proc(pid, "stat").c_str(), "re");
    if (f == nullptr)
        return {};
    const std::size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    const char *after = n > 0 ? strrchr(text, ')') : nullptr;
    return after != nullptr && strlen(after) > 2 ? after : "";
}

} // namespace

bool has_ended(pid_t tid)
{
    const std::string stat = stat_after_name(tid);
    return stat.empty() || stat[2] == 'Z' || stat[2] == 'X';
}

long current_call(pid_t tid)
{
    // "NR ARGS... SP PC", "-1 SP PC" outside a call, or "running".
    char text[32] = {};
    FILE *f = fopen(proc(tid, "syscall").c_str(), "re");
    if (f == nullptr)
        return -2;
    const bool read = fgets(text, sizeof text, f) != nullptr;
    fclose(f);
    char *end = nullptr;
    const long nr = read ? strtol(text, &end, 10) : -2;
    return read && end != text ? std::max(nr, -1L) : read ? -1 : -2;
}

long long open_file_limit(pid_t pid)
{
    // "Max open files            1024                 4096                 files"
    return proc_number(pid, "limits", "Max open files");
}

long long fd_table_size(pid_t pid)
{
    return proc_number(pid, "status", "FDSize:");
}

namespace
{

// The numbers of a /proc file that lists them, "PID PID ... "; false with
// errno set when it cannot be opened.
bool numbers_in(const std::string &path, std::vector<pid_t> &into)
{
    FILE *f = fopen(path.c_str(), "re");
    if (f == nullptr)
        return false;
    char text[4096];
    std::string all;
    for (std::size_t n; (n = fread(text, 1, sizeof text, f)) > 0;)
        all.append(text, n);
    fclose(f);
    for (const char *p = all.c_str();;) {
        char *end = nullptr;
        const long n = strtol(p, &end, 10);
        if (end == p)
            return true;
        into.push_back(static_cast<pid_t>(n));
        p = end;
    }
}

// The children of every thread of pid, as /proc/PID/task/TID/children lists
// them; a thread or process gone meanwhile has none.
void children_of(pid_t pid, std::vector<pid_t> &into)
{
    DIR *tasks = opendir(proc(pid, "task").c_str());
    if (tasks == nullptr)
        return;
    while (const dirent *e = readdir(tasks))
        if (number(e->d_name) >= 0)
            (void)numbers_in(proc(pid, ("task/" + std::string(e->d_name) + "/children").c_str()),
                             into);
    closedir(tasks);
}

// Whether the kernel lists each thread's children (CONFIG_PROC_CHILDREN).
bool children_listed()
{
    static const bool listed = access("/proc/thread-self/children", R_OK) == 0;
    return listed;
}

// Every process of the host and its parent: only where the kernel lists no
// children.
std::vector<pid_t> descendants_by_walk(pid_t pid)
{
    std::vector<std::pair<pid_t, pid_t>> parent_of;
    DIR *dir = opendir("/proc");
    if (dir == nullptr)
        return {};
    while (const dirent *e = readdir(dir)) {
        const pid_t p = number(e->d_name);
        const std::string stat = p > 0 ? stat_after_name(p) : "";
        if (stat.size() > 4)
            parent_of.emplace_back(p, static_cast<pid_t>(strtol(stat.c_str() + 4, nullptr, 10)));
    }
    closedir(dir);
    std::vector<pid_t> found = {pid};
    for (std::size_t i = 0; i < found.size(); i++)
        for (const auto &[p, ppid] : parent_of)
            if (ppid == found[i])
                found.push_back(p);
    found.erase(found.begin());
    return found;
}

} // namespace

std::vector<pid_t> descendants(pid_t pid)
{
    if (!children_listed())
        return descendants_by_walk(pid);
    std::vector<pid_t> found;
    children_of(pid, found);
    for (std::size_t i = 0; i < found.size(); i++)
        children_of(found[i], found);
    return found;
}

bool proc_is_ours()
{
    char self[32] = {};
    const ssize_t n = readlink("/proc/self", self, sizeof self - 1);
    return n > 0 && strtol(self, nullptr, 10) == getpid();
}
