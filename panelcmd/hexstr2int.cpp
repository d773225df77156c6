// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "hexstr2int.h"

#include <cstring>

namespace
{

// The value of a hexadecimal digit, or -1 for any other character
// (bytes 0x80 to 0xFF included, whatever the signedness of char).
[[nodiscard]] constexpr int digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::int32_t hexstr2int(const char *text)
{
    std::uint32_t acc = 0;
    unsigned shift = 0;
    for (std::size_t i = std::strlen(text); i-- > 0; shift += 4) {
        const int d = digit_value(static_cast<unsigned char>(text[i]));
        if (d >= 0)
            acc += static_cast<std::uint32_t>(d) << (shift % 32);
    }
    return static_cast<std::int32_t>(acc);
}
