// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// poll_wait: a poll or select that asks whether the line can take output,
// answered by the panel as the UART's line discipline would.
//
// The pseudo-terminal behind the line always has room, so the kernel's own
// answer would be wrong whenever the modelled transmit buffer is not
// writable. Such a call is held: it ends when the line becomes writable,
// when one of the program's other descriptors is ready, or when its time is
// up, and the panel then writes the outcome into the program's memory as the
// kernel would (revents, or the descriptor sets, and the time left) and
// returns its count. To see the other descriptors, the panel holds duplicates
// of them (pidfd_getfd); one that cannot be had is never reported ready.
// The line never has input to read: the panel sends nothing back.
//
// A call the kernel refuses before it waits (a bad count, address, time or
// signal mask; for select, a descriptor that is not open) is never held: the
// kernel answers it. A poll for a descriptor that is not open is answered at
// once, with POLLNVAL for it.
//
// held_wait::examine  whether a call asks the line for output: its held form
// held_wait::watch_others  takes duplicates of the program's other descriptors
// held_wait::write_outcome  writes the outcome into the program; the call's value
#ifndef POLL_WAIT_H
#define POLL_WAIT_H

#include "abi.h"
#include "clock.h"

#include <cstdint>
#include <sys/types.h>

#include <optional>
#include <poll.h>
#include <vector>

// A poll or select as the program made it: whether it concerns the line
// is seen when its descriptor sets are read.
struct wait_request {
    pid_t pid = 0;
    watched_call form = watched_call::poll; // poll, ppoll, select or pselect6
    std::uint64_t args[6] = {};
    call_abi abi{};
};

class held_wait
{
  public:
    // Reads the call's descriptor sets and time limit; nullopt when the line
    // is not among the descriptors asked whether they take output. now is
    // the time the call was made, on the panel's clock.
    [[nodiscard]] static std::optional<held_wait> examine(const wait_request &req, dev_t line,
                                                          nanos now_ns);

    held_wait(held_wait &&other) noexcept;
    held_wait &operator=(held_wait &&other) noexcept;
    held_wait(const held_wait &) = delete;
    held_wait &operator=(const held_wait &) = delete;
    ~held_wait();

    // Takes duplicates of the program's other descriptors, to see them from here.
    void watch_others();
    [[nodiscard]] const std::vector<pollfd> &others() const { return others_; }
    // When the call's time is up; NEVER when it waits for ever.
    [[nodiscard]] nanos deadline() const { return deadline_; }
    [[nodiscard]] bool others_ready();
    // Writes the outcome into the program; returns the call's value, or -1
    // with err set.
    nanos write_outcome(bool line_writable, nanos now_ns, int &err);

  private:
    struct entry {
        int fd;
        short events; // for select: POLLIN, POLLOUT, POLLPRI for each set it is in
        bool line;
        bool closed;    // not open: POLLNVAL
        int other = -1; // its index in others_
    };

    held_wait() = default;
    bool read_sets(const wait_request &req, dev_t line);
    bool read_poll(const wait_request &req, dev_t line);
    bool read_select(const wait_request &req, dev_t line);
    void add(const wait_request &req, dev_t line, int fd, short events);
    [[nodiscard]] static bool mask_refused(const wait_request &req);
    bool read_time(const wait_request &req, nanos now_ns);
    [[nodiscard]] short ready(const entry &e, bool line_writable) const;
    int write_poll(bool line_writable, long long &count);
    int write_select(bool line_writable, long long &count);
    int write_time(nanos now_ns);
    void close_others();

    wait_request req_;
    std::vector<entry> entries_;
    std::vector<pollfd> others_;
    nanos deadline_ = 0;
    std::size_t bits_ = 0; // select: how many descriptors its sets cover
    bool asks_ = false;    // whether the line is asked for output
};

#endif
