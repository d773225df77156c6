#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The installed packages as a user meets them: the installed panelsim, at
# /dev/ttyS1 in its private mount namespace, reports the installed programs'
# two frames clean, and sigrok-cli, with the packaged decoder found where
# libsigrokdecode looks by itself, shows those two frames alone in its dump.
# Python runs with byte code written (some machines set
# PYTHONDONTWRITEBYTECODE), as a user's would: the purge must cope with it.
#
# usage: installed_package.sh VERDICTS WORK_DIR
# (exit 77: the packages panel and panelsim or sigrok-cli are not installed,
# or no private mount namespace can be made: root, or user namespaces)
set -eu
verdicts=$1 work=$2
for package in panel panelsim; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        { echo "the package $package is not installed"; exit 77; }
done
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is not installed"; exit 77; }
[ "$(id -u)" -eq 0 ] || unshare --user --map-root-user true 2>/dev/null ||
    { echo "neither root nor user namespaces: no private /dev/ttyS1"; exit 77; }
mkdir -p "$work"
vcd=$work/installed.vcd
rm -f "$vcd"

/usr/bin/panelsim --dev-ttyS1 --json --vcd "$vcd" -- sh -c 'panel45 && panelcmd a d 11 13 0 ff' >"$work/reports"
"$verdicts" --name "installed panelsim" --clean 2 "$work/reports"

decoded=$(env -u SIGROKDECODE_DIR -u PYTHONDONTWRITEBYTECODE sigrok-cli -I vcd -i "$vcd" \
    -P uart:rx=line:baudrate=19200,vfd_panel -A vfd_panel 2>&1)
printf '%s\n' "$decoded"
want='vfd_panel-1: 45: 01 01 01 01 01 00 00
vfd_panel-1: 0a: 0d 11 13 00 ff 00 00'
[ "$decoded" = "$want" ] || { echo "FAIL: vfd_panel did not show the two frames alone"; exit 1; }
