// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// line_lock: a line's hold on the path it is linked at, for as long as the
// line lives.
//
// Principles:
//  - The hold is an abstract Unix socket named after the path's canonical
//    form (the real path of its folder, then its own name; hashed with its
//    tail kept where that is too long for a socket name). The kernel gives a
//    name to one socket at a time and drops it when its holder closes it or
//    dies: a killed panel leaves nothing that blocks the next one, and
//    nothing is made on disk, so it works in any folder for every user.
//  - The holder listens on the name without ever accepting: another process
//    that connects learns the holder's pid from the connection (SO_PEERCRED).
//  - Names are per network namespace: only processes that share one see each
//    other's holds.
//  - The socket is closed on exec, so a command the panel starts never holds
//    the path after the panel has ended.
//
// take     hold path; false with errno EBUSY when a live process holds it
// release  give the hold up
// held     whether this lock holds a path
// holder   after a take found the path held: the holder's pid, 0 if unknown
#ifndef LINE_LOCK_H
#define LINE_LOCK_H

#include <string>
#include <sys/types.h>

class line_lock
{
  public:
    line_lock() = default;
    ~line_lock();
    line_lock(const line_lock &) = delete;
    line_lock &operator=(const line_lock &) = delete;

    // Holds path, giving up any path held before. False with errno set when
    // the path's folder cannot be resolved, or EBUSY when another holds it.
    [[nodiscard]] bool take(const std::string &path);
    void release();

    [[nodiscard]] bool held() const { return fd_ >= 0; }
    [[nodiscard]] pid_t holder() const { return holder_; }

  private:
    int fd_ = -1;
    pid_t holder_ = 0;
};

#endif
