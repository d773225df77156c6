// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// What the programs are expected to leave behind: their texts, and the
// settings of a port before and after a run.
#ifndef TESTS_EXPECTED_H
#define TESTS_EXPECTED_H

#include <cstdint>
#include <span>
#include <string>
#include <termios.h>

// panelcmd's frame line: "command data = ", then "0x%x : " for each byte.
[[nodiscard]] std::string frame_line(std::span<const std::uint8_t> frame);

// Empty when the settings are exactly 19200 baud both ways, CS8 | CREAD |
// CLOCAL and nothing else, no input, output or local flags, VMIN 1, VTIME 5
// and every other control character 0; else what differs.
[[nodiscard]] std::string raw_19200_faults(const termios &t);

// Settings an earlier user might have left on the port: 9600 baud, 7 data
// bits, odd parity, two stop bits, flow control both ways, hang-up on close,
// cooked and echoing input, CR/LF mapping, output processing. (A pseudo-
// terminal keeps no data-bit size or parity of its own: it always reports CS8
// without PARENB. A UART's driver stores them.)
[[nodiscard]] termios spoiled_settings();

#endif
