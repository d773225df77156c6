// SPDX-License-Identifier: MIT
// watch: what the programs on the line ask of it.
//
// A Linux pseudo-terminal keeps no character size or parity of its own: it
// stores CS8 without PARENB whatever a program sets, so reading the line
// alone cannot tell a 7E1 sender from an 8N1 one. Nor does it make anyone
// wait for the bytes to leave. The commands the virtual panel starts
// therefore run under a seccomp filter that hands the panel, before the
// kernel carries them out, every call that sets the line's settings (the
// termios, termios2 and System V termio forms), drains or flushes its
// output, and, when closes are watched, every call that may close the line
// (close, close_range, dup2, dup3, exit_group). The filter knows each ABI the
// running kernel may offer on this processor (i386 and x32 beside x86_64,
// arm beside arm64, the three MIPS ABIs); a program of any other ABI has all
// its calls handed over, and the panel says it cannot read them.
//
// The panel decides when a call goes on: at once, or once the modelled line
// has sent what is queued (a drain, and a program's last close of the line).
//
// watch_install   in the started child, before exec: the listener fd, or -1
// read_settings   the settings a terminal reports, as line_settings
// settings_watch  in the panel: takes each call and says what it is to the line
#ifndef WATCH_H
#define WATCH_H

#include "frames.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

[[nodiscard]] int watch_install(bool watch_closes, std::string &why);

// The settings the terminal on fd reports. A pseudo-terminal reports 8 data
// bits and no parity, whatever was asked for.
[[nodiscard]] line_settings read_settings(int fd);

// One call a watched program has made, held until answered.
struct line_call {
    enum kind_t {
        other,        // nothing to the line: let it go on
        set,          // sets the line's settings
        drain,        // waits until the output has left
        flush_output, // discards the output not yet sent
        last_close,   // closes the line, and no one else has it open
        blind,        // a call the panel cannot read
    };
    kind_t kind = other;
    bool drain_first = false; // set: only once the output has left
    line_settings settings;   // set: what the line is set to
    std::string why;          // blind, or a set whose settings are not known
    std::uint64_t id = 0;
    pid_t pid = 0;
};

class settings_watch
{
  public:
    explicit settings_watch(dev_t line) : line_(line) {}
    ~settings_watch();
    settings_watch(const settings_watch &) = delete;
    settings_watch &operator=(const settings_watch &) = delete;

    void adopt(int listener) { fd_ = listener; }
    // Stops watching: the watched programs are gone.
    void stop();
    [[nodiscard]] int fd() const { return fd_; }

    // Takes one pending call; false once the listener has no more programs
    // to watch. current is what the line is set to now (a termio call
    // changes only part of it).
    bool receive(line_call &call, const line_settings &current);

    // Lets the call go on.
    void answer(const line_call &call) const;

  private:
    // 1 when fd of pid is the line, 0 when not, -1 when that cannot be seen.
    [[nodiscard]] int is_line(pid_t pid, std::uint64_t fd) const;
    [[nodiscard]] bool holds(pid_t pid) const;
    [[nodiscard]] bool held_elsewhere(pid_t pid, const std::vector<int> &closing) const;

    dev_t line_;
    int fd_ = -1;
};

#endif
