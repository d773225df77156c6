// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// watch: what the programs on the line ask of it.
//
// The commands the panel starts run under a seccomp filter (filter.h) that
// hands the panel, before the kernel carries them out, every call that may
// concern the line. The watch takes each one and says what it is to the
// line: a change of settings, a request for them, a drain, a break, a write
// and where its bytes are, a poll that may wait for room, an open of the
// line, the last close of it (no other process holds it, not counting
// descriptors whose close is already under way), or nothing. A write that
// the kernel refuses before it sends anything (a count or an address it will
// not take, a descriptor not open for writing) is nothing to the line: the
// kernel answers it. What it reads of a program (its memory,
// /proc) may be stale by the time it has read it: a call whose program has
// gone on or died since is dropped, never acted on.
//
// The panel then lets each call go on, answers it itself with a value or an
// error, or holds it until the line is ready.
//
// line_watch::receive  takes one call and says what it is
// line_watch::valid    whether a call is still waiting for its answer
// line_watch::go_on    lets the kernel carry the call out
// line_watch::answer   answers the call with a value or an error, in the kernel's stead
#ifndef WATCH_H
#define WATCH_H

#include "abi.h"
#include "settings.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A poll or select, as its arguments came: whether it concerns the line is
// seen when its descriptor sets are read.
struct wait_request {
    watched_call form = watched_call::poll; // poll, ppoll, select or pselect6
    std::uint64_t args[6] = {};
    call_abi abi{};
};

// One call a watched program has made, held until answered.
struct line_call {
    enum kind_t {
        other,        // nothing to the line: let it go on
        gone,         // the program went on or died while it was being read
        blind,        // a call the panel cannot read
        set,          // sets the line's settings
        drain,        // waits until the output has left
        flush_output, // discards the output not yet sent
        brk,          // drains, then holds the line low for arg ms
        break_on,     // holds the line low at once, until break_off
        break_off,    // ends a break
        flow,         // tcflow: arg is TTY_OOFF, TTY_OON, TTY_IOFF or TTY_ION
        outq,         // asks how many bytes wait to be sent; the count goes to addr
        get,          // asks for the settings: arg is the request, its record goes to addr
        write,        // writes the bytes in data to the line
        poll,         // a poll or select, which may wait for the line to take output
        open,         // opens the line
        last_close,   // closes the line, and no one else has it open
    };
    kind_t kind = other;
    bool drain_first = false;  // set: only once the output has left
    line_settings settings;    // set: what the line is set to
    std::string why;           // blind, or a set whose settings are not known
    long long arg = 0;         // brk (ms), flow, get
    std::uint64_t addr = 0;    // outq
    std::vector<segment> data; // write
    bool nonblocking = false;  // write: the descriptor does not wait
    wait_request wait;         // wait
    std::uint64_t id = 0;
    pid_t pid = 0;
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
    [[nodiscard]] dev_t line() const { return line_; }

    // Takes one pending call; false once the listener has no more programs
    // to watch. current is what the line is set to now (a termio call
    // changes only part of it); opens says whether opens of the line matter
    // now (while a last close is held, they wait for it).
    bool receive(line_call &call, const line_settings &current, bool opens);

    [[nodiscard]] bool valid(const line_call &call) const;
    void go_on(const line_call &call) const;
    // value, or, when err is not 0, the error err.
    void answer(const line_call &call, long long value, int err = 0) const;

  private:
    void ioctl_call(line_call &call, const std::uint64_t *args, const line_settings &current) const;
    void write_call(line_call &call, const call_abi &abi, const std::uint64_t *args) const;
    void open_call(line_call &call, const call_abi &abi, const std::uint64_t *args,
                   bool opens) const;
    void close_call(line_call &call, const call_abi &abi, const std::uint64_t *args);
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
