#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The Debian packages and the builds that made them, as a packager gets
# them (`cmake --build DIR --target package`):
#
#   depends        panelsim's package depends on libseccomp2 (>= 2.5.0):
#                  its watch needs seccomp's user notification, new in 2.5.0
#   programs-only  a firmware build (a cross build with testing off) has
#                  compiled nothing but panelcmd and panel45
#
# The build folders are PANEL_PACKAGE_BUILDS (separated by spaces), else
# BUILD. Exit 77 when none of them holds what the check reads.
#
# usage: package_checks.sh CHECK BUILD
set -eu
check=$1
builds=${PANEL_PACKAGE_BUILDS:-$2}
checked=0

depends() { # DIR
    for deb in "$1"/panelsim_*.deb; do
        [ -e "$deb" ] || return 0
        depends=$(dpkg-deb -f "$deb" Depends)
        echo "$deb: Depends: $depends"
        checked=$((checked + 1))
        case ", $depends," in
        *", libseccomp2 (>= 2.5.0),"*) ;;
        *) echo "FAIL: $deb does not depend on libseccomp2 (>= 2.5.0)"; exit 1 ;;
        esac
    done
}

# A build folder whose cache names a toolchain file and has testing off.
firmware_build() { # DIR
    grep -q '^CMAKE_TOOLCHAIN_FILE:' "$1/CMakeCache.txt" 2>/dev/null &&
        grep -qx 'BUILD_TESTING:BOOL=OFF' "$1/CMakeCache.txt"
}

programs_only() { # DIR
    firmware_build "$1" || return 0
    built=$(cd "$1" && find . -type f -perm -u+x ! -path '*/CMakeFiles/*' ! -path './_CPack_Packages/*' |
        sort | tr '\n' ' ')
    echo "$1: $built"
    checked=$((checked + 1))
    [ "$built" = "./bin/panel45 ./bin/panelcmd " ] || { echo "FAIL: $1 built more than the programs"; exit 1; }
}

case $check in
depends) command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed"; exit 77; } ;;
programs-only) ;;
*) echo "usage: package_checks.sh depends|programs-only BUILD" >&2; exit 2 ;;
esac
for dir in $builds; do
    if [ "$check" = depends ]; then depends "$dir"; else programs_only "$dir"; fi
done
if [ "$checked" -eq 0 ]; then
    echo "nothing to check in: $builds (make the packages; PANEL_PACKAGE_BUILDS names other folders)"
    exit 77
fi
echo "$checked checked"
