// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// json_check: whether a text is one JSON value and nothing else, by the
// grammar of RFC 8259, strictly: no trailing commas, no control characters
// in strings, no leading zeros, only the standard escapes.
//
// json_object  whether a line is exactly one JSON object
#ifndef FUZZ_JSON_CHECK_H
#define FUZZ_JSON_CHECK_H

#include <string_view>

[[nodiscard]] bool json_object(std::string_view text);

#endif
