#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The demo's seed through the report writers: the dump fuzz_writers makes of
# it reads back, by sigrok's UART decoder, as the demo's three frames.
#
# usage: vcd_seed.sh FUZZ_WRITERS SEED VCD_DECODE DUMP   (exit 77: no sigrok-cli)
set -eu
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is not installed"; exit 77; }
FUZZ_VCD=$4 "$1" -runs=1 "$2"
got=$("$3" "$4" 19200 8N1)
want="45 01 01 01 01 01 00 00 45 01 01 01 01 01 00 00 0a 0d 11 13 00 00 00 00"
echo "read back: $got"
[ "$got" = "$want" ] || { echo "FAIL: want $want"; exit 1; }
