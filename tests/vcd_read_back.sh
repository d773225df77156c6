#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The line as the virtual panel dumps it, read back by sigrok's UART
# decoder: the demo's dump holds exactly the demo's frames at 19200 8N1, a
# 9600 7E1 sender's reads back at 9600 7E1 but not at 19200 8N1, and a B0
# sender's at 9600, the speed the UART sends at then.
#
# usage: vcd_read_back.sh DEMO PANELSIM WORK_DIR   (exit 77: no sigrok-cli)
set -eu
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is not installed"; exit 77; }
demo=$1 panelsim=$2 work=$3
decode="$(dirname "$0")/vcd_decode.sh"
verdicts="$(dirname "$0")/verdicts.py"
mkdir -p "$work"

"$demo" --json --vcd "$work/demo.vcd" >"$work/demo.json"
"$verdicts" --name demo "$work/demo.json"
frames=$("$verdicts" --bytes "$work/demo.json" | tr '\n' ' ')
[ -n "$frames" ] || { echo "FAIL: the demo reported no frames"; exit 1; }
read_back=$("$decode" "$work/demo.vcd" 19200 8N1)
echo "read back at 19200 8N1: $read_back"
[ "$read_back " = "$frames" ] || { echo "FAIL: the demo's dump is not its frames: $frames"; exit 1; }

line=$work/line
"$panelsim" -l "$line" --vcd "$work/7e1.vcd" -- sh -c \
  "stty -F $line 9600 cs7 parenb -parodd raw -echo 2>/dev/null; printf '\105\001\001\001\001\001\000\000' > $line" || true
read_back=$("$decode" "$work/7e1.vcd" 9600 7E1)
echo "7E1 sender read back at 9600 7E1: $read_back"
[ "$read_back" = "45 01 01 01 01 01 00 00" ] || { echo "FAIL: want 45 01 01 01 01 01 00 00"; exit 1; }
if wrong=$("$decode" "$work/7e1.vcd" 19200 8N1) && [ "$(printf '%s\n' "$wrong" | head -n 1)" = "45 01 01 01 01 01 00 00" ]; then
    echo "FAIL: the 7E1 dump reads back clean at 19200 8N1"
    exit 1
fi
echo "7E1 sender read back at 19200 8N1: $(printf '%s' "$wrong" | tr '\n' ';')"

# At B0 the UART sends at 9600.
"$panelsim" -l "$line" --vcd "$work/b0.vcd" -- sh -c \
  "stty -F $line 0 raw -echo 2>/dev/null; printf '\105\001\001\001\001\001\000\000' > $line" || true
read_back=$("$decode" "$work/b0.vcd" 9600 8N1)
echo "B0 sender read back at 9600 8N1: $read_back"
[ "$read_back" = "45 01 01 01 01 01 00 00" ] || { echo "FAIL: want 45 01 01 01 01 01 00 00"; exit 1; }
echo "3 passed, 0 failed"
