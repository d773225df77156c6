// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// line_lock: a line's hold on the path it is linked at, for as long as the
// line lives.
//
// Principles:
//  - A path has one canonical form, whichever way it is written or reached:
//    the real path of its folder, then its own name, trailing slashes
//    dropped ("line/", "./line", "dir/../line", a linked folder, relative or
//    absolute). Its last part is never resolved: it is the link itself.
//  - The hold is an abstract Unix socket named after the canonical form
//    (hashed with its tail kept where that is too long for a socket name).
//    The kernel gives a name to one socket at a time and drops it when its
//    holder closes it or dies: a killed panel leaves nothing that blocks the
//    next one, and nothing is made on disk, so it works in any folder for
//    every user.
//  - The holder makes its pid known under a second abstract name, the
//    path's hash, its pid namespace and its pid, bound just after the hold
//    is taken and closed just before it is given up. Another process finds
//    it among the bound names the kernel lists (/proc/net/unix): nobody has
//    to answer, and no queue fills, however many ask.
//  - Names are per network namespace: only processes that share one see each
//    other's holds. A pid is named only to a process in the holder's pid
//    namespace.
//  - The sockets are closed on exec, so a command the panel starts never
//    holds the path after the panel has ended.
//
// canonical  the path's canonical form; empty with errno set if it has none
// take       hold path; false with errno EBUSY when a live process holds it
// release    give the hold up
// held       whether this lock holds a path
// path       the canonical form of the path held
// holder     after a take found the path held: the holder's pid, 0 if unknown
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

    // Empty with errno set when the folder cannot be resolved, or EEXIST
    // when the path names a folder ("/", a last part "." or "..").
    [[nodiscard]] static std::string canonical(const std::string &path);

    // Holds path, giving up any path held before. False with errno set when
    // the path has no canonical form, or EBUSY when another holds it.
    [[nodiscard]] bool take(const std::string &path);
    void release();

    [[nodiscard]] bool held() const { return fd_ >= 0; }
    [[nodiscard]] const std::string &path() const { return path_; }
    [[nodiscard]] pid_t holder() const { return holder_; }

  private:
    int fd_ = -1;
    int pid_fd_ = -1; // the name that makes our pid known
    std::string path_;
    pid_t holder_ = 0;
};

#endif
