// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// watch_required: what a test does when the panel cannot watch its command.
//
// Where seccomp's user notification is not to be had (some containers, a
// panel built without libseccomp), panelsim starts with "panelsim: cannot
// watch the settings ..." and every frame is "settings unknown": a test of
// what the watch sees skips itself there. CTest counts a skip as a pass, so
// where the watch must work (CI sets it), PANEL_REQUIRE_WATCH=1 in the
// environment makes each such skip a failure. Skips for other reasons (no
// sigrok-cli, no /dev/full) stay skips.
//
// The tests' shell scripts follow the same rule through watch_required.sh,
// which mirrors this header: change the two together.
//
// WATCH_MISSING  the panel's word, at the start of a line of its standard error
// watch_missing  whether a run's standard error holds that word; then, where
//                PANEL_REQUIRE_WATCH=1, also a failure of the test
#ifndef TESTS_WATCH_REQUIRED_H
#define TESTS_WATCH_REQUIRED_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

inline const std::string WATCH_MISSING = "panelsim: cannot watch the settings";

// Whether err holds the panel's word that it cannot watch. A test that gets
// true skips itself (GTEST_SKIP() after a failure leaves the test failed):
//     if (watch_missing(o.err))
//         GTEST_SKIP() << o.err;
[[nodiscard]] inline bool watch_missing(const std::string &err)
{
    if (err.rfind(WATCH_MISSING, 0) != 0 && err.find("\n" + WATCH_MISSING) == std::string::npos)
        return false;
    const char *required = std::getenv("PANEL_REQUIRE_WATCH");
    if (required != nullptr && std::string(required) == "1")
        ADD_FAILURE() << "PANEL_REQUIRE_WATCH=1, but the panel cannot watch here:\n" << err;
    return true;
}

#endif
