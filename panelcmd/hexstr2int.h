// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#ifndef HEXSTR2INT_H
#define HEXSTR2INT_H

#include <cstdint>

// Reads a text as hexadecimal, leniently: it never rejects its input. Every
// character takes one digit position, counted from the right; those that are
// not hexadecimal digits add nothing. The k-th character from the right
// weighs 16^(k mod 8), and the sum wraps modulo 2^32. "0x45" gives 0x45.
[[nodiscard]] std::int32_t hexstr2int(const char *text);

#endif
