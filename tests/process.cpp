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

outcome process::wait(int limit_ms)
{
    outcome o;
    if (pid_ <= 0)
        return o;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::string *sink[2] = {&o.out, &o.err};
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long spent =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (spent >= limit_ms) {
            kill(pid_, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(limit_ms - spent)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                sink[i]->append(buf, static_cast<size_t>(n));
            else
                fds[i].fd = -1;
        }
    }
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
