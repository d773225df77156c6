// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "writer.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

writer::writer(const std::string &path, std::span<const std::uint8_t> bytes) : pid_(fork())
{
    if (pid_ != 0)
        return;
    // Opened without waiting for a modem's carrier, then made blocking: the
    // write waits for room as long as it needs, holding the port meanwhile.
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || fcntl(fd, F_SETFL, 0) != 0)
        _exit(2);
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    _exit(n == static_cast<ssize_t>(bytes.size()) ? 0 : 1);
}

writer::~writer()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int writer::wait(int limit_ms)
{
    if (pid_ <= 0)
        return -1;
    int st = 0;
    pid_t done = 0;
    for (int waited = 0; (done = waitpid(pid_, &st, WNOHANG)) == 0 && waited < limit_ms;
         waited += 10)
        usleep(10000);
    if (done == 0) {
        kill(pid_, SIGKILL);
        done = waitpid(pid_, &st, 0);
    }
    pid_ = -1;
    if (done <= 0)
        return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}
