# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# shellcheck shell=sh
# The rule of tests/watch_required.h for the tests' shell scripts (sourced):
# a case the panel cannot watch is skipped, or, where PANEL_REQUIRE_WATCH=1
# (CI), fails the script. Change the two together.
#
# watch_missing FILE   whether the panel's standard error in FILE says it
#                      cannot watch; where PANEL_REQUIRE_WATCH=1, then says
#                      so and exits 1
watch_missing() {
    grep -q '^panelsim: cannot watch the settings' "$1" || return 1
    if [ "${PANEL_REQUIRE_WATCH:-}" = 1 ]; then
        echo "PANEL_REQUIRE_WATCH=1, but the panel cannot watch here:"
        cat "$1"
        exit 1
    fi
    return 0
}
