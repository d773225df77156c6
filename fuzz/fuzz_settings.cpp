// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// A settings record out of a program: the first byte picks the layout
// (termios, termios2, termio), the rest is the record. Each is read twice:
// on the line's default settings, and on what the first reading gave (a
// termio changes only part of them).
#include "check.h"
#include "tty_abi.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static constexpr tty_op LAYOUTS[] = {tty_op::set_termios, tty_op::set_termios2,
                                         tty_op::set_termio};
    if (size < 1)
        return 0;
    const tty_op op = LAYOUTS[data[0] % std::size(LAYOUTS)];
    unsigned char record[LARGEST_RECORD] = {};
    FUZZ_CHECK(record_size(op) > 0 && record_size(op) <= LARGEST_RECORD);
    std::copy_n(data + 1, std::min(size - 1, record_size(op)), record);
    line_settings s = settings_from(op, record, line_settings{});
    for (int pass = 0; pass < 2; ++pass) {
        if (s.known)
            FUZZ_CHECK(sane(s));
        (void)describe(s);
        for (const fault &f : settings_faults(s))
            FUZZ_CHECK(f.code != nullptr && !f.text.empty());
        s = settings_from(op, record, s);
    }
    return 0;
}
