// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// options: panelsim's command line.
//
// parse  reads the options and the command; -1 to go on, else the exit status
// usage  the usage text
#ifndef OPTIONS_H
#define OPTIONS_H

#include <cstddef>
#include <cstdio>
#include <string>

#ifndef PANELSIM_LINK
#define PANELSIM_LINK "/tmp/panelsim-ttyS1"
#endif

struct options {
    std::string link = PANELSIM_LINK;
    bool at_ttys1 = false;
    bool at_arrival = false;
    bool json = false;
    std::size_t buffer = 4096;
    std::string vcd;
    std::string listen;       // a real serial port to listen on, instead of a pseudo-terminal
    char **command = nullptr; // null-terminated; empty without a command
};

[[nodiscard]] int parse(int argc, char *argv[], options &o);
void usage(std::FILE *to);

#endif
