// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "output.h"

#include <algorithm>
#include <termios.h>

namespace
{

// The kernel's character classes are those of Latin-1.
bool is_control(unsigned c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0);
}

bool is_lower(unsigned c)
{
    return (c >= 'a' && c <= 'z') || (c >= 0xdf && c != 0xf7);
}

} // namespace

// XTABS: a tab goes as the spaces up to the next tab stop, all or none.
bool output_processor::expand_tab(std::size_t room, std::vector<std::uint8_t> &out)
{
    const unsigned spaces = TAB_WIDTH - (column_ % TAB_WIDTH);
    if (room < spaces)
        return false;
    column_ += spaces;
    out.insert(out.end(), spaces, ' ');
    return true;
}

std::size_t output_processor::process(std::span<const std::uint8_t> in, std::size_t room,
                                      const line_settings &s, std::vector<std::uint8_t> &out)
{
    if ((s.oflag & OPOST) == 0) {
        const std::size_t n = std::min(in.size(), room);
        out.insert(out.end(), in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    std::size_t used = 0;
    for (const std::uint8_t c : in) {
        const std::size_t before = out.size();
        if (!one(c, room, s, out))
            break;
        room -= out.size() - before;
        used++;
    }
    return used;
}

bool output_processor::one(std::uint8_t c, std::size_t room, const line_settings &s,
                           std::vector<std::uint8_t> &out)
{
    const auto on = [&](unsigned flag) { return (s.oflag & flag) != 0; };
    if (room == 0)
        return false;
    switch (c) {
    case '\n':
        if (on(ONLRET))
            column_ = 0;
        if (on(ONLCR)) {
            if (room < 2)
                return false;
            column_ = 0;
            out.push_back('\r');
        }
        break;
    case '\r':
        if (on(ONOCR) && column_ == 0)
            return true;
        if (on(OCRNL)) {
            c = '\n';
            if (on(ONLRET))
                column_ = 0;
        } else {
            column_ = 0;
        }
        break;
    case '\t':
        if ((s.oflag & TABDLY) == XTABS)
            return expand_tab(room, out);
        column_ += TAB_WIDTH - (column_ % TAB_WIDTH);
        break;
    case '\b':
        if (column_ > 0)
            column_--;
        break;
    default:
        if (!is_control(c)) {
            if (on(OLCUC) && is_lower(c))
                c = static_cast<std::uint8_t>(c - ('a' - 'A'));
            // A UTF-8 continuation byte does not move the column.
            if ((s.iflag & IUTF8) == 0 || (c & 0xc0) != 0x80)
                column_++;
        }
        break;
    }
    out.push_back(c);
    return true;
}
