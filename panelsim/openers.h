// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// openers: whether anyone has the line open, and whether the panel watches
// whoever does.
//
// The pseudo-terminal's master side reports a hang-up exactly while no file
// of its slave side, the line, is open anywhere on the host: the panel
// keeps none of its own, so the kernel answers "is the line open?" for it,
// at once and exactly. An inotify watch on the line's device node tells of
// every open of it, and every release of an open file of it, wherever they
// are made; it is what wakes the panel to look again (several opens in a
// row may reach it as one, so it is a least count, never more). The panel
// knows which opens and last closes its watched programs make: it sees them
// before they go on, and says so here. The watch tells too of every write
// that went through the kernel: the watched programs' writes the panel
// takes itself, so one while none of them holds the line is someone
// else's. So:
//  - more opens than the watched programs announced are an unwatched
//    program's: one that opened the line, and may hold it still;
//  - a write after the watched programs' last close is an unwatched
//    program's, which was given the line;
//  - a last close that leaves the line open, while no watched program holds
//    it, leaves it to someone unwatched (a program the file was passed to);
//  - the line let go while no last close was under way was let go by a
//    close the panel could not see (an io_uring close, a program killed by
//    a signal).
// Nothing here looks through the host's processes.
//
// kept_inotify           an inotify instance whose closing delays no run
// openers::watch         starts watching the device at path, whose master is given
// openers::fd            what to poll for opens; -1 before watch
// openers::open          whether the line was open when last looked at
// openers::outsider_holds  whether someone unwatched may have the line open now
// openers::opening       a watched open of the line goes on now
// openers::closing_last  a watched last close of the line goes on now
// openers::awaits       whether a last close gone on is still to let the line go
// openers::finished      a thread made another call: what it announced is done
// openers::held_outside  the caller found the line held by none of its programs
// openers::read          looks again, and says what others did since
// openers::counts_paths  whether the kernel tells O_PATH opens too (before Linux 6.5)
// openers::let_go        stops watching
#ifndef OPENERS_H
#define OPENERS_H

#include <string>
#include <sys/types.h>
#include <vector>

// An inotify instance whose last reference a process of its own keeps until
// the panel has ended: closing an instance that watches a file waits for the
// kernel to retire the watch, a grace period of several milliseconds, which
// no run then waits for. The keeper holds nothing else and is no child of
// the panel's (a panel that is the first process of its pid namespace, whose
// orphans come back to it, has none). -1 with errno set where there is no
// instance to be had.
[[nodiscard]] int kept_inotify();

// What others did to the line, since it was last asked.
struct line_news {
    bool outsider = false;          // a program the panel does not watch had the line open
    bool unseen_last_close = false; // the line was let go by a close the panel did not see
    // A watched last close left the line open: the caller looks whether its
    // programs hold it, and if none does, says held_outside.
    bool left_open = false;
    bool stirred = false; // the line was opened, written or let go meanwhile
};

class openers
{
  public:
    openers() = default;
    ~openers();
    openers(const openers &) = delete;
    openers &operator=(const openers &) = delete;

    [[nodiscard]] bool watch(int inotify, const std::string &path, int master);
    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] bool open() const { return open_; }
    [[nodiscard]] bool outsider_holds() const { return outsider_holds_; }

    void opening(pid_t tid);
    // nr: the close's system call, which the thread is in until it is done.
    void closing_last(pid_t tid, long nr);
    [[nodiscard]] bool awaits() const { return !closing_.empty(); }
    // True where a last close of tid left the line open (as line_news's
    // left_open).
    [[nodiscard]] bool finished(pid_t tid);
    void held_outside();
    [[nodiscard]] line_news read();
    [[nodiscard]] bool has_unread() const { return unread_.outsider || unread_.unseen_last_close; }

    [[nodiscard]] bool counts_paths() const { return counts_paths_; }
    void let_go();

  private:
    void look(line_news &news);

    int fd_ = -1;
    int master_ = -1;
    bool counts_paths_ = false;
    bool open_ = false;
    bool outsider_holds_ = false;
    // Opens announced and told since no announced open was under way: the
    // kernel tells no more opens than were made, and the watched programs
    // made no more than they announced, so more told than announced are
    // someone else's.
    std::size_t announced_ = 0;
    std::size_t told_ = 0;
    bool let_go_ = false; // a watched last close went on, and no watched open since
    // A watched last close gone on: the line is let go when it is done, or
    // someone else holds it.
    struct closer {
        pid_t tid;
        long nr;
    };
    [[nodiscard]] static bool done(const closer &c);

    std::vector<pid_t> opening_;  // threads whose announced open may be under way
    std::vector<closer> closing_; // watched last closes gone on, the line not yet let go
    line_news unread_;            // what was learnt between two reads
};

#endif
