// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// pty_line: a pseudo-terminal standing in for the panel's serial line.
//
// The programs write to the slave side as they would to the serial port;
// whoever holds the master side sees every byte exactly as it left, and,
// through tcgetattr on the master (which on Linux reports the slave's
// settings), the line settings they were sent under. The line stays up as
// long as the master side is open, while programs open and close the slave
// side; the line keeps a slave descriptor of its own until let_go, after
// which the master reports a hang-up exactly while no program has the line
// open. A line that is linked at a path holds that path (line_lock) until
// it is destroyed, so that no other line takes over its link meanwhile.
//
// open        create the pair; the line starts with the system's defaults
// link        hold a path and make the slave reachable there through a symbolic link
// unlink      remove the line's own link; the path stays held
// holder      after a link refused because the path is held: the holder's pid
// settings    the slave's line settings, as they are now
// configure   set the slave's line settings, as an earlier user might
// request     make a terminal request of the line, as a program on it would
// let_go      close the line's own slave descriptor
// read        what arrived on the line, waiting a bounded time for it
// drain       everything that arrives until the line has been quiet a while
#ifndef PTY_LINE_H
#define PTY_LINE_H

#include "line_lock.h"

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

class pty_line
{
  public:
    pty_line() = default;
    ~pty_line();
    pty_line(const pty_line &) = delete;
    pty_line &operator=(const pty_line &) = delete;

    // Creates the pseudo-terminal pair; false with errno set on failure.
    [[nodiscard]] bool open();

    // Holds path and makes the slave reachable there, at the path's
    // canonical form (line_lock). While another live line holds the path,
    // nothing is touched and the call fails with EBUSY (holder() tells who).
    // With the path free of live lines, a link into /dev/pts whose
    // pseudo-terminal is gone (or is this line's own, given anew) can only
    // have been left by a line that has ended: it is replaced. Anything else
    // there is refused with EEXIST and left as it was. The link is removed again by unlink or the
    // destructor, the hold only by the destructor.
    [[nodiscard]] bool link(const std::string &path);
    void unlink();
    [[nodiscard]] pid_t holder() const { return lock_.holder(); }

    [[nodiscard]] int master() const { return master_; }
    [[nodiscard]] int slave() const { return slave_; }
    [[nodiscard]] const std::string &slave_path() const { return slave_path_; }

    [[nodiscard]] termios settings() const;
    [[nodiscard]] bool configure(const termios &tio);
    // 0, or the errno the kernel refuses it with.
    [[nodiscard]] int request(unsigned long number, void *record);
    void let_go();

    // Reads what is available, waiting up to timeout_ms for something to
    // arrive. Returns the number of bytes, 0 when nothing came, -1 on error
    // (EIO: nothing is left, and nobody has the line open).
    [[nodiscard]] ssize_t read(std::span<std::uint8_t> buf, int timeout_ms);

    // Everything that arrives until quiet_ms pass without a byte, or until
    // limit_ms have passed in all.
    [[nodiscard]] std::vector<std::uint8_t> drain(int quiet_ms, int limit_ms = 30000);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
    std::string link_;
    // Declared last, so released last: the link is gone before the path is
    // free for another line.
    line_lock lock_;
    std::string held_; // the path lock_ holds
};

#endif
