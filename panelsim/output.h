// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// output: the line discipline's output processing, as Linux does it when a
// program writes to a terminal with OPOST on.
//
// ONLCR sends 0a as 0d 0a, OCRNL sends 0d as 0a, ONOCR drops a 0d at column
// 0, ONLRET counts 0a as a return, OLCUC upper-cases, and XTABS (TAB3)
// expands a tab to spaces up to the next multiple of 8. The column is kept
// across writes, as the line discipline keeps it. A character that becomes
// several bytes goes whole or waits for room. Without OPOST the bytes pass
// unchanged.
//
// output_processor::process  the bytes a write puts in the transmit buffer
#ifndef OUTPUT_H
#define OUTPUT_H

#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class output_processor
{
  public:
    // Appends to out what the bytes of in become under s, as far as room
    // bytes allow; returns how many bytes of in were consumed.
    std::size_t process(std::span<const std::uint8_t> in, std::size_t room, const line_settings &s,
                        std::vector<std::uint8_t> &out);

  private:
    // What one character becomes: appends it and returns true, or returns
    // false when it needs more than room bytes.
    bool one(std::uint8_t c, std::size_t room, const line_settings &s,
             std::vector<std::uint8_t> &out);
    bool expand_tab(std::size_t room, std::vector<std::uint8_t> &out);

    // Tab stops, as the line discipline counts columns.
    static constexpr unsigned TAB_WIDTH = 8;

    unsigned column_ = 0;
};

#endif
