// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// check: what the fuzz targets share.
//
// FUZZ_CHECK   an invariant: when it fails, says which and aborts, so that
//              libFuzzer keeps the input
// sane         whether settings are ones the panel can put on a wire
#ifndef FUZZ_CHECK_H
#define FUZZ_CHECK_H

#include "settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);           \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

[[nodiscard]] inline bool sane(const line_settings &s)
{
    return s.data_bits >= 5 && s.data_bits <= 8 && s.parity != '\0' &&
           std::strchr("NEOMS", s.parity) != nullptr && (s.stop_bits == 1 || s.stop_bits == 2) &&
           s.char_ns() > 0;
}

#endif
