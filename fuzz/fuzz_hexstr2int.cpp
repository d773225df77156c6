// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// hexstr2int against a plain model of its rule: the k-th character from the
// right weighs 16^(k mod 8); a character that is not a hexadecimal digit
// adds nothing; the sum wraps modulo 2^32.
#include "check.h"
#include "hexstr2int.h"

#include <cstdint>
#include <string>

namespace
{

std::uint32_t model(const std::string &text)
{
    static const std::string DIGITS = "0123456789abcdef";
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[text.size() - 1 - k];
        std::size_t d = DIGITS.find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
        if (d == std::string::npos)
            continue;
        std::uint32_t weight = 1;
        for (std::size_t i = 0; i < k % 8; ++i)
            weight *= 16;
        sum += static_cast<std::uint32_t>(d) * weight;
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string c_text = text.substr(0, text.find('\0')); // a C string ends at a NUL
    FUZZ_CHECK(static_cast<std::uint32_t>(hexstr2int(c_text.c_str())) == model(c_text));
    return 0;
}
