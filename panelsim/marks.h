// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// marks: what a serial port's receiver took, read back from the marked
// stream the line discipline gives with PARMRK and INPCK (and IGNPAR,
// IGNBRK, BRKINT and ISTRIP off).
//
// In that stream
//   \377 \377    is the byte ff;
//   \377 \0 \0   is a 00 received with a framing error: a break, as a 16550
//                reports one (every sample low), or a 00 whose stop bit was
//                low, which no UART tells apart from it;
//   \377 \0 c    is the byte c received with a framing error or, where the
//                port checks parity, a parity error (the stream does not
//                say which);
// and every other byte is itself. A mark may be split between two reads: the
// decoder keeps what it has seen of one until the next.
//
// mark_decoder::take  the characters a piece of the stream holds
#ifndef MARKS_H
#define MARKS_H

#include <cstdint>
#include <span>
#include <vector>

// One character as the receiver took it.
struct received_char {
    std::uint8_t value = 0;
    bool error = false; // a framing error (or a parity error, where parity is checked)
    bool is_break = false;
    bool operator==(const received_char &) const = default;
};

class mark_decoder
{
  public:
    [[nodiscard]] std::vector<received_char> take(std::span<const std::uint8_t> bytes);

  private:
    enum class seen { nothing, escape, marked }; // of a mark under way: none, \377, \377 \0
    seen seen_ = seen::nothing;
};

#endif
