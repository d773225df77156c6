// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// frames_of: the frame reports of the panel's --json output, as the tests'
// tables give them: each frame's bytes, then " !" and its codes, sorted and
// joined by ",", where it is flagged; the frames joined by "; ".
#ifndef TESTS_FRAMES_OF_H
#define TESTS_FRAMES_OF_H

#include <string>

[[nodiscard]] std::string frames_of(const std::string &json);

#endif
