// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// listener: the board suite's case of panelsim --listen on the board itself.
//
// Two more UARTs of the board are wired back to back through qemu: what the
// board writes to the one, its other 8250 driver receives. For the case the
// sending one is bound at /dev/ttyS1, where the shipped programs open it,
// and panelsim listens on the other as a controller at 19200 8N1 would
// receive it. The programs' frames must be reported clean; a frame cut short
// and a byte left over after a frame, flagged.
//
// Console lines, besides the case's own:
//   board: listen NAME JSON         each line panelsim printed, as it printed it
//   board: heard NAME REPORT...     what it must have reported, in order: the
//                                   bytes in hexadecimal, and !CODE,... when flagged
//
// uart_pair        the pair's ports
// board_pair       the pair from /etc/board-pair; none on a board without one
// listener_case    runs the case and prints panelsim's reports on the console
// listener_heard   what panelsim must report, as "board: heard" words
#ifndef BOARD_LISTENER_H
#define BOARD_LISTENER_H

#include "checks.h"

#include <optional>
#include <string>
#include <vector>

struct uart_pair {
    std::string send;   // the programs write here
    std::string listen; // panelsim listens here
};

[[nodiscard]] std::optional<uart_pair> board_pair();

void listener_case(verdict &v, const std::optional<uart_pair> &pair, const std::string &name);

[[nodiscard]] std::vector<std::string> listener_heard();

#endif
