// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// split: a text cut into its fields, as the tests' programs and tables write
// them (steps "write:45010101", columns of a table).
//
// split  the parts of s between each sep; an empty s is one empty part
#ifndef TESTS_SPLIT_H
#define TESTS_SPLIT_H

#include <string>
#include <vector>

[[nodiscard]] inline std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts(1);
    for (const char c : s) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

#endif
