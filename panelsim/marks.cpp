// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "marks.h"

namespace
{

constexpr std::uint8_t ESCAPE = 0377;

} // namespace

std::vector<received_char> mark_decoder::take(std::span<const std::uint8_t> bytes)
{
    std::vector<received_char> out;
    for (const std::uint8_t b : bytes) {
        switch (seen_) {
        case seen::nothing:
            if (b == ESCAPE)
                seen_ = seen::escape;
            else
                out.push_back({b});
            break;
        case seen::escape:
            if (b == 0) {
                seen_ = seen::marked;
                break;
            }
            // \377 \377 is ff; \377 before anything else (which the line
            // discipline never sends) is taken for itself, and so is what
            // follows.
            out.push_back({ESCAPE});
            seen_ = seen::nothing;
            if (b != ESCAPE)
                out.push_back({b});
            break;
        case seen::marked:
            out.push_back({b, true, b == 0});
            seen_ = seen::nothing;
            break;
        }
    }
    return out;
}
