// SPDX-License-Identifier: MIT
// vcd_write OUT BAUD FORMAT HEX...: a dump of the bytes sent back to back,
// from 1 ms after time 0 to 1 ms after the last stop bit, for looking at
// and for pictures. FORMAT as people say it: 8N1, 7E1, 8O2.
#include "vcd.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

bool parse_format(const char *text, wire_format &f)
{
    if (std::strlen(text) != 3)
        return false;
    f.data_bits = text[0] - '0';
    f.parity = text[1];
    f.stop_bits = text[2] - '0';
    return valid_format(f);
}

} // namespace

int main(int argc, char **argv)
{
    wire_format f;
    char *end = nullptr;
    if (argc >= 4)
        f.baud = std::strtol(argv[2], &end, 10);
    if (argc < 4 || end == argv[2] || *end != '\0' || !parse_format(argv[3], f)) {
        std::fprintf(stderr, "usage: vcd_write OUT BAUD FORMAT HEX...   (FORMAT like 8N1)\n");
        return 2;
    }
    vcd_writer w;
    if (!w.open(argv[1])) {
        std::fprintf(stderr, "vcd_write: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    constexpr long long LEAD_NS = 1'000'000;
    const double char_ns = char_bits(f) * 1e9 / static_cast<double>(f.baud);
    for (int i = 4; i < argc; ++i) {
        const unsigned long value = std::strtoul(argv[i], &end, 16);
        if (end == argv[i] || *end != '\0' || value > 0xff) {
            std::fprintf(stderr, "vcd_write: not a byte in hexadecimal: %s\n", argv[i]);
            return 2;
        }
        w.byte(static_cast<std::uint8_t>(value),
               LEAD_NS + std::llround(static_cast<double>(i - 4) * char_ns), f);
    }
    const long long last = LEAD_NS + std::llround(static_cast<double>(argc - 4) * char_ns);
    if (!w.close(last + LEAD_NS)) {
        std::fprintf(stderr, "vcd_write: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    return 0;
}
