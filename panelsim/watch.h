// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// watch: what the programs on the line ask of it.
//
// The commands the panel starts run under a seccomp filter (filter.h) that
// hands the panel, before the kernel carries them out, every call that may
// concern the line. The watch takes each one, reads what it needs of the
// program, and hands the port the call decoded whole (calls.h): a change of
// settings, a request for them, a drain, a break, a write and where its
// bytes are, a poll or select that asks the line for room, an open of the
// line, the last close of it (no other process holds it, not counting
// descriptors whose close is already under way), a request of the serial
// driver (the modem-control lines, the counters, the line status, the
// port's setup, with whether its caller is privileged), or nothing to the
// line.
// Every "does this concern the line?" is decided here, from the call and a
// small view of the port; the port only decides when each goes on.
//
// A call the kernel refuses before it sends anything (a count or an address
// it will not take, a descriptor not open for writing) is nothing to the
// line: the kernel answers it. What the watch reads of a program (its
// memory, /proc) may be stale by the time it has read it: a call whose
// program has gone on or died since is `gone`, never acted on.
//
// line_watch::receive  takes one call and decodes it
// line_watch::decode   decodes a call the kernel handed over, without answering it
// line_watch::valid    whether a call is still waiting for its answer
// line_watch::go_on    lets the kernel carry the call out
// line_watch::answer   answers the call with a value or an error, in the kernel's stead
#ifndef WATCH_H
#define WATCH_H

#include "abi.h"
#include "calls.h"
#include "clock.h"
#include "settings.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct seccomp_notif;

// What the watch needs of the port to decode a call.
struct port_view {
    line_settings settings;    // what the line is set to (a termio call changes only part)
    bool closing = false;      // a last close is under way: opens of the line wait for it
    bool takes_output = false; // a poll for room is answered at once: the kernel's answer is right
    nanos now = 0;             // the panel's time: a poll's deadline counts from it
};

class line_watch
{
  public:
    explicit line_watch(dev_t line) : line_(line) {}
    ~line_watch();
    line_watch(const line_watch &) = delete;
    line_watch &operator=(const line_watch &) = delete;

    void adopt(int listener) { fd_ = listener; }
    // Stops watching: the watched programs are gone.
    void stop();
    [[nodiscard]] int fd() const { return fd_; }

    // Takes one pending call; false once the listener has no more programs
    // to watch.
    bool receive(line_call &call, const port_view &port);
    // What the call in req is to the line, read from its program as it is
    // now; receive() does this for each call it takes.
    [[nodiscard]] call_kind decode(const seccomp_notif &req, const port_view &port);

    [[nodiscard]] bool valid(const call_id &who) const;
    void go_on(const call_id &who) const;
    // value, or, when err is not 0, the error err.
    void answer(const call_id &who, long long value, int err = 0) const;

  private:
    [[nodiscard]] call_kind decode(const call_id &who, const call_abi &abi,
                                   const std::uint64_t *args, const port_view &port);
    [[nodiscard]] call_kind ioctl_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args,
                                       const line_settings &current) const;
    [[nodiscard]] call_kind write_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args) const;
    [[nodiscard]] call_kind poll_call(const call_id &who, const call_abi &abi,
                                      const std::uint64_t *args, const port_view &port) const;
    [[nodiscard]] call_kind open_call(const call_id &who, const call_abi &abi,
                                      const std::uint64_t *args) const;
    [[nodiscard]] call_kind close_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args);
    [[nodiscard]] bool last(pid_t tid, const std::vector<int> &closing);

    // A descriptor of the line whose close has been let go, and may not
    // have run yet.
    struct closing_fd {
        pid_t tid;
        pid_t pid;
        int fd;
    };

    dev_t line_;
    int fd_ = -1;
    std::vector<closing_fd> closing_;
};

#endif
