// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// descriptors: what the watch learnt of the programs' descriptors, kept for
// as long as it stays true.
//
// Whether a descriptor is open on the line and its open flags are read from
// /proc the first time a thread names it: a handful of calls, on every
// write were they read each time. What was read stays true until the
// descriptor may name another file or have other flags, and the watch sees
// every call that can make it so:
//  - a close, dup2, dup3 or close_range frees or replaces numbers: they are
//    forgotten in every process, as threads and processes that share a
//    table of descriptors see the same numbers;
//  - an exec, an exit, a change of the flags (fcntl F_SETFL, FIONBIO):
//    everything is forgotten;
//  - a process that ends by a signal makes no call: a pidfd of each thread
//    that has anything kept says when it has ended, before its number can
//    be given to another, and its entries go;
//  - io_uring closes and opens descriptors without a call the watch sees:
//    once a program sets it up, nothing is kept any more.
// Where the calls that free numbers are not watched (the flow is not
// modelled), nothing is kept at all.
//
// descriptors::keep      whether what is read is kept (off: read every time)
// descriptors::of        whether a descriptor is the line, and its flags
// descriptors::closed    numbers first to last (inclusive) freed or replaced
// descriptors::forget    everything kept goes
// descriptors::stop      nothing is kept from now on
// descriptors::watched   the pidfds of the threads with entries, to poll
// descriptors::ended     a thread whose pidfd said it ended: its entries go
#ifndef DESCRIPTORS_H
#define DESCRIPTORS_H

#include "procs.h"

#include <cstdint>
#include <poll.h>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

class descriptors
{
  public:
    struct facts {
        tell line = tell::no; // open on the line for use (an O_PATH one is not)
        long flags = -1;      // fdinfo's flags, -1 when unknown
    };

    explicit descriptors(dev_t line) : line_(line) {}
    ~descriptors();
    descriptors(const descriptors &) = delete;
    descriptors &operator=(const descriptors &) = delete;

    void keep(bool on) { keep_ = on; }
    [[nodiscard]] facts of(pid_t tid, long long fd);
    void closed(long long first, long long last);
    void forget();
    void stop();
    [[nodiscard]] const std::vector<pollfd> &watched() const { return pidfds_; }
    void ended(int pidfd);

  private:
    [[nodiscard]] static facts read(pid_t tid, long long fd, dev_t line);
    [[nodiscard]] bool follow(pid_t tid);
    void drop(pid_t tid);

    dev_t line_;
    bool keep_ = false;
    std::unordered_map<std::uint64_t, facts> kept_; // by thread and number
    std::unordered_map<pid_t, int> thread_pidfd_;
    std::vector<pollfd> pidfds_;
};

#endif
