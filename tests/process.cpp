// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

process::process(const std::vector<std::string> &argv, const start_options &how)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (how.closed_in)
        posix_spawn_file_actions_addclose(&fa, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (how.closed_out)
        posix_spawn_file_actions_addclose(&fa, 1);
    else
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    if (how.closed_err)
        posix_spawn_file_actions_addclose(&fa, 2);
    else
        posix_spawn_file_actions_adddup2(&fa, how.one_stream ? out[1] : err[1], 2);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (how.session_leader)
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    std::vector<char *> args;
    if (!how.no_argv)
        std::transform(argv.begin(), argv.end(), std::back_inserter(args),
                       [](const std::string &a) { return const_cast<char *>(a.c_str()); });
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &fa, &attr, args.data(), environ) != 0)
        pid_ = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

process::~process()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        close(out_);
    if (err_ >= 0)
        close(err_);
}

namespace
{

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

} // namespace

bool process::read_some(int limit_ms)
{
    std::string *sink[2] = {&read_.out, &read_.err};
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0)
        return false;
    if (poll(fds, 2, limit_ms) < 0 && errno != EINTR)
        return false;
    int *ends[2] = {&out_, &err_};
    for (int i = 0; i < 2; i++) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buf[4096];
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
            sink[i]->append(buf, static_cast<size_t>(n));
        } else {
            close(fds[i].fd);
            *ends[i] = -1;
        }
    }
    return true;
}

bool process::shows(const std::string &text, int limit_ms, stream in)
{
    const std::string &seen = in == stream::out ? read_.out : read_.err;
    const long long end = now_ms() + limit_ms;
    while (seen.find(text) == std::string::npos) {
        const long long left = end - now_ms();
        if (left <= 0 || !read_some(static_cast<int>(left)))
            return false;
    }
    return true;
}

outcome process::wait(int limit_ms)
{
    if (pid_ <= 0)
        return read_;
    const long long end = now_ms() + limit_ms;
    for (;;) {
        const long long left = end - now_ms();
        if (left <= 0) {
            kill(pid_, SIGKILL);
            break;
        }
        if (!read_some(static_cast<int>(left)))
            break;
    }
    outcome o = read_;
    int st = 0;
    if (waitpid(pid_, &st, 0) == pid_)
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid_ = -1;
    return o;
}

bool process::holds_open(const std::string &path, int limit_ms) const
{
    if (pid_ <= 0)
        return false;
    const std::string fds = "/proc/" + std::to_string(pid_) + "/fd";
    for (int waited = 0; waited <= limit_ms; waited += 10) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == pid_)
            return false; // it has ended
        DIR *dir = opendir(fds.c_str());
        if (dir == nullptr)
            return false; // gone, or never there
        bool found = false;
        while (const dirent *e = readdir(dir)) {
            char target[4096];
            const std::string fd = fds + "/" + e->d_name;
            const ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
            if (n > 0 && path.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0)
                found = true;
        }
        closedir(dir);
        if (found)
            return true;
        usleep(10000);
    }
    return false;
}

namespace
{

// The first line of a small /proc file; empty when it cannot be read.
std::string proc_line(const std::string &path)
{
    char text[512] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    const std::string line(text, n > 0 ? static_cast<size_t>(n) : 0);
    return line.substr(0, line.find('\n'));
}

// Whether process pid, or one it started, is blocked in one of calls.
bool in_call(const std::string &pid, const std::vector<long> &calls)
{
    // "NR ARGS...", or "running"
    const std::string call = proc_line("/proc/" + pid + "/syscall");
    const bool numbered = call.find_first_of("0123456789") == 0;
    const long nr = numbered ? std::stol(call) : -1;
    if (std::find(calls.begin(), calls.end(), nr) != calls.end())
        return true;
    // Its children, as the kernel lists them: "PID PID ".
    const std::string children = proc_line("/proc/" + pid + "/task/" + pid + "/children");
    for (std::size_t at = 0; at < children.size();) {
        const std::size_t end = std::min(children.find(' ', at), children.size());
        if (in_call(children.substr(at, end - at), calls))
            return true;
        at = end + 1;
    }
    return false;
}

} // namespace

bool process::child_in_call(const std::vector<long> &calls, int limit_ms) const
{
    for (int waited = 0; pid_ > 0 && waited <= limit_ms; waited += 5) {
        const std::string children = proc_line("/proc/" + std::to_string(pid_) + "/task/" +
                                               std::to_string(pid_) + "/children");
        for (std::size_t at = 0; at < children.size();) {
            const std::size_t end = std::min(children.find(' ', at), children.size());
            if (in_call(children.substr(at, end - at), calls))
                return true;
            at = end + 1;
        }
        usleep(5000);
    }
    return false;
}

namespace
{

// Whether process pid has ended: gone, or a zombie its parent has not waited for.
bool ended(pid_t pid)
{
    const std::string stat = proc_line("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t after = stat.rfind(')');
    return after == std::string::npos || stat.compare(after, 3, ") Z") == 0;
}

bool wait_for(pid_t pid, const std::vector<long> &calls, int limit_ms, bool or_ended)
{
    for (int waited = 0; pid > 0 && waited <= limit_ms; waited += 5) {
        if (in_call(std::to_string(pid), calls) || (or_ended && ended(pid)))
            return true;
        usleep(5000);
    }
    return false;
}

} // namespace

bool waits_in_call(pid_t pid, const std::vector<long> &calls, int limit_ms)
{
    return wait_for(pid, calls, limit_ms, false);
}

bool in_call_or_ended(pid_t pid, const std::vector<long> &calls, int limit_ms)
{
    return wait_for(pid, calls, limit_ms, true);
}

std::string missing_in_order(const std::string &text, const std::vector<std::string> &pieces)
{
    std::size_t at = 0;
    for (const auto &piece : pieces) {
        const std::size_t found = text.find(piece, at);
        if (found == std::string::npos)
            return piece;
        at = found + piece.size();
    }
    return "";
}
