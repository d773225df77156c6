// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// launch: start the command that the virtual panel watches.
//
// The child optionally moves into a private mount namespace in which the
// line's slave is bind-mounted at /dev/ttyS1, puts itself under the watch
// and executes the command, its standard output moved to standard error
// where the panel's own output must carry nothing else. What became of each step travels back to
// the panel over a socket, which closes when the exec succeeds; until then
// the child's own watched calls go on.
#ifndef LAUNCH_H
#define LAUNCH_H

#include <string>
#include <sys/types.h>

inline constexpr const char *TTYS1 = "/dev/ttyS1";

// The exit status when the machine does not let the line stand at /dev/ttyS1.
inline constexpr int LAUNCH_NO_TTYS1 = 3;

struct launch_result {
    pid_t pid = -1;      // -1: the command did not start
    int watch = -1;      // the watch's listener, or -1
    int status = 0;      // when pid is -1: the exit status the panel should end with
    std::string error;   // when pid is -1: why
    std::string warning; // the command runs, but without the watch
};

struct launch_options {
    bool at_ttys1 = false;   // the line stands at /dev/ttyS1 for the command
    bool flow = false;       // the calls that move bytes are watched too
    bool out_to_err = false; // the command's standard output goes to standard error
};

// Starts argv[0] with argv (a null-terminated vector). slave is the line's
// slave path. With flow, the panel is handed the calls that move bytes
// (writes, polls, opens, closes, execs), besides the terminal requests; with
// out_to_err, the command writes nothing among the panel's own reports.
[[nodiscard]] launch_result launch(char *const argv[], const std::string &slave,
                                   const launch_options &how);

#endif
