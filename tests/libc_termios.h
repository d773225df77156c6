// SPDX-License-Identifier: MIT
// Test helper for the sender: the C library's own tcsetattr and tcgetattr,
// kept apart from the kernel's terminal headers that the sender uses.
//
// libc_set  tcsetattr(TCSANOW) to raw at baud with framing (8N1, 7E1, ...);
//           0, or -1 with errno set
// libc_get  what tcgetattr says: "BAUD FRAMING", e.g. "19200 7E1"
#ifndef TESTS_LIBC_TERMIOS_H
#define TESTS_LIBC_TERMIOS_H

#include <string>

int libc_set(int fd, long baud, const std::string &framing);
std::string libc_get(int fd);

#endif
