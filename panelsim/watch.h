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
// line, the last close of it, a request of the serial driver (the
// modem-control lines, the counters, the line status, the port's setup,
// with whether its caller is privileged), or nothing to the line. Every
// "does this concern the line?" is decided here, from the call and a small
// view of the port; the port only decides when each goes on.
//
// Whether anyone has the line open is the kernel's to say (openers.h): the
// watch tells it of every open and last close of the line it lets go on,
// and takes its news of what nobody watched did. A close is the last when
// none of the watched programs holds the line afterwards, nor anyone the
// panel knows of; only the panel's own processes are looked through.
//
// A call the kernel refuses before it sends anything (a count or an address
// it will not take, a descriptor not open for writing, one opened with
// O_PATH) is nothing to the line: the kernel answers it. What the watch
// reads of a program (its memory, /proc) may be stale by the time it has
// read it: a call whose program has gone on or died since is `gone`, never
// acted on.
//
// line_watch::count_opens  starts watching who has the line open
// line_watch::receive  takes one call and decodes it
// line_watch::decode   decodes a call the kernel handed over, without answering it
// line_watch::news     what others did to the line since it was last asked
// line_watch::has_news whether the watch learnt some while taking a call
// line_watch::keep_descriptors  whether what is learnt of descriptors is kept
// line_watch::followed  the threads whose descriptors are kept, to poll for their end
// line_watch::line_open  whether anyone had the line open when last looked at
// line_watch::awaits   whether a last close gone on is still to let the line go
// line_watch::valid    whether a call is still waiting for its answer
// line_watch::go_on    lets the kernel carry the call out
// line_watch::open_goes_on   lets an open of the line go on, told to openers
// line_watch::close_goes_on  lets a last close of the line go on, told to openers
// line_watch::answer   answers the call with a value or an error, in the kernel's stead
#ifndef WATCH_H
#define WATCH_H

#include "abi.h"
#include "calls.h"
#include "clock.h"
#include "descriptors.h"
#include "openers.h"
#include "settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct seccomp_notif;

// What the watch needs of the port to decode a call.
struct port_view {
    line_settings settings;    // what the line is set to (a termio call changes only part)
    bool takes_output = false; // a poll for room is answered at once: the kernel's answer is right
    nanos now = 0;             // the panel's time: a poll's deadline counts from it
};

class line_watch
{
  public:
    explicit line_watch(dev_t line) : line_(line), fds_(line) {}
    ~line_watch();
    line_watch(const line_watch &) = delete;
    line_watch &operator=(const line_watch &) = delete;

    // Takes the listener; where the kernel can (Linux 6.6 and later), it
    // hands the CPU straight from a program to the panel and back on each
    // call (SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP).
    void adopt(int listener);
    // Stops watching: the watched programs are gone.
    void stop();
    [[nodiscard]] int fd() const { return fd_; }

    // inotify: an instance of kept_inotify's; path: the line's device;
    // master: the pseudo-terminal's other side.
    [[nodiscard]] bool count_opens(int inotify, const std::string &path, int master)
    {
        return openers_.watch(inotify, path, master);
    }
    // What to poll for news; -1 before count_opens.
    [[nodiscard]] int news_fd() const { return openers_.fd(); }
    [[nodiscard]] line_news news();
    [[nodiscard]] bool has_news() const { return openers_.has_unread(); }
    // Whether what is learnt of descriptors is kept: only where every call
    // that frees or replaces one is watched.
    void keep_descriptors(bool on) { fds_.keep(on); }
    // The pidfds of the threads whose descriptors are kept, to poll; and one
    // that said its thread ended.
    [[nodiscard]] const std::vector<pollfd> &followed() const { return fds_.watched(); }
    void thread_ended(int pidfd) { fds_.ended(pidfd); }
    // Whether the line was open when last looked at.
    [[nodiscard]] bool line_open() const { return openers_.open(); }
    // Whether a last close of the line is under way, to be looked after.
    [[nodiscard]] bool awaits() const { return openers_.awaits(); }

    // Takes one pending call; false once the listener has no more programs
    // to watch.
    bool receive(line_call &call, const port_view &port);
    // What the call in req is to the line, read from its program as it is
    // now; receive() does this for each call it takes.
    [[nodiscard]] call_kind decode(const seccomp_notif &req, const port_view &port);

    [[nodiscard]] bool valid(const call_id &who) const;
    void go_on(const call_id &who) const;
    void open_goes_on(const call_id &who);
    void close_goes_on(const call_id &who);
    // value, or, when err is not 0, the error err.
    void answer(const call_id &who, long long value, int err = 0) const;

  private:
    [[nodiscard]] call_kind decode(const call_id &who, const call_abi &abi,
                                   const std::uint64_t *args, const port_view &port);
    [[nodiscard]] call_kind ioctl_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args,
                                       const line_settings &current) const;
    [[nodiscard]] call_kind settings_call(const call_id &who, unsigned request, std::uint64_t addr,
                                          const line_settings &current) const;
    [[nodiscard]] call_kind write_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args) const;
    [[nodiscard]] call_kind poll_call(const call_id &who, const call_abi &abi,
                                      const std::uint64_t *args, const port_view &port) const;
    [[nodiscard]] call_kind open_call(const call_id &who, const call_abi &abi,
                                      const std::uint64_t *args) const;
    [[nodiscard]] call_kind close_call(const call_id &who, const call_abi &abi,
                                       const std::uint64_t *args);

    // A descriptor of the line in a watched program.
    struct line_fd {
        pid_t pid;
        int fd;
    };
    // A descriptor of the line whose close has been let go, and may not
    // have run yet.
    struct closing_fd {
        pid_t tid;
        line_fd at;
    };

    [[nodiscard]] std::optional<line_fd> line_fd_of(pid_t pid, int fd) const;
    [[nodiscard]] std::vector<line_fd> all_watched_fds() const;
    [[nodiscard]] bool last(pid_t tid, const std::vector<line_fd> &closed);
    void forget_closed(const call_abi &abi, const std::uint64_t *args);
    void check_left_open(line_news &n);

    dev_t line_;
    mutable descriptors fds_; // what was read of descriptors: kept, not part of the watch's state
    int fd_ = -1;
    std::vector<closing_fd> closing_;
    openers openers_;
};

#endif
