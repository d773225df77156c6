// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// checks: what the board suite's cases share: the port and the programs as
// the board holds them, one case's verdict, and the checks of a program's run.
//
// PORT, PANEL45, PANELCMD  the port the programs open, and the programs
// usage_line               panelcmd's first line of output
// quoted                   a program's text in quotes, its newlines as \n
// verdict                  what one case found wrong, or why it did not run
// expect                   checks a program's exit status and texts
// run                      runs a program and checks its exit status and texts
// same                     whether two settings are the same to the driver
#ifndef BOARD_CHECKS_H
#define BOARD_CHECKS_H

#include "process.h"

#include <string>
#include <termios.h>
#include <vector>

inline const std::string PORT = "/dev/ttyS1";
inline const std::string PANEL45 = "/bin/panel45";
inline const std::string PANELCMD = "/bin/panelcmd";

[[nodiscard]] std::string usage_line();
[[nodiscard]] std::string quoted(const std::string &s);

// What one case found wrong; empty when it passed. A case that cannot run
// on the board says why in skipped, and nothing else.
struct verdict {
    std::string faults;
    std::string skipped;
    void check(bool ok, const std::string &what)
    {
        if (!ok)
            faults += (faults.empty() ? "" : "; ") + what;
    }
};

// Checks a program's exit status and texts; a closed stream is not looked at.
void expect(verdict &v, const std::string &name, const outcome &o, int status,
            const std::string &out, const std::string &err, const start_options &how = {});

// Runs a program and checks its exit status and texts.
void run(verdict &v, const std::vector<std::string> &argv, int status, const std::string &out,
         const std::string &err, const start_options &how = {});

[[nodiscard]] bool same(const termios &a, const termios &b);

#endif
