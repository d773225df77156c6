#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# sigrok's frame decoder, vfd_panel, on the virtual panel's own dumps: each
# row has a sender write to the panel's line under `panelsim --vcd`, reads
# the dump back at 19200 8N1 through the UART decoder and vfd_panel, and
# compares the frames and the warnings it shows, each list joined by ";".
#
# usage: vfd_panel_decoder.sh DEMO PANELSIM DECODERS_DIR WORK_DIR
# (exit 77: no sigrok-cli)
set -eu
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is not installed"; exit 77; }
demo=$1 panelsim=$2 work=$4
export SIGROKDECODE_DIR="$3" PYTHONDONTWRITEBYTECODE=1
mkdir -p "$work"
L=$work/line
export L

# One annotation class of vfd_panel; anything sigrok-cli says on standard
# error (a decoder's exception too) is a failure.
decode() {
    sigrok-cli -I vcd -i "$1" -A "vfd_panel=$2" \
        -P uart:rx=line:baudrate=19200:data_bits=8:parity=none:stop_bits=1,vfd_panel \
        2>"$work/stderr" | sed -n 's/^vfd_panel-1: //p' | paste -sd ';' -
    if [ -s "$work/stderr" ]; then cat "$work/stderr" >&2; return 1; fi
}

gap='Gap of more than a character after byte'
# A frame, a break (tcsendbreak) and the frame again, at 19200 8N1 raw.
BREAK="import os, termios
fd = os.open(os.environ['L'], os.O_RDWR | os.O_NOCTTY)
t = termios.tcgetattr(fd)
t[0:4] = [0, 0, termios.CS8 | termios.CREAD | termios.CLOCAL, 0]
t[4] = t[5] = termios.B19200
termios.tcsetattr(fd, termios.TCSANOW, t)
frame = bytes([0x45, 1, 1, 1, 1, 1, 0, 0])
os.write(fd, frame)
termios.tcsendbreak(fd, 0)
os.write(fd, frame)"
export BREAK
passed=0 failed=0
# name | sender, run by sh with the line at $L (demo: the demo) | frames | warnings
while IFS='|' read -r name sender frames warnings; do
    dump=$work/$name.vcd
    if [ "$sender" = demo ]; then
        "$demo" --vcd "$dump" >/dev/null
    else
        "$panelsim" -l "$L" --vcd "$dump" -- sh -c "$sender" >/dev/null || true
    fi
    warnings=$(printf %s "$warnings" | sed "s/GAP/$gap/g")
    got_frames=$(decode "$dump" frame) && got_warnings=$(decode "$dump" warning) || got_frames='sigrok-cli failed'
    if [ "$got_frames" = "$frames" ] && [ "$got_warnings" = "$warnings" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s\n  frames:   %s\n  want:     %s\n  warnings: %s\n  want:     %s\n' \
            "$name" "$got_frames" "$frames" "$got_warnings" "$warnings"
    fi
done <<'ROWS'
demo|demo|45: 01 01 01 01 01 00 00;45: 01 01 01 01 01 00 00;0a: 0d 11 13 00 00 00 00|
cut_short_at_end|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001' >$L; sleep 0.01||GAP 5 of 8
cut_short|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001' >$L; sleep 0.3|45: 01 01 01 01|GAP 5 of 8;Frame cut short: 5 of 8 bytes
left_over|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001\001\000\000\001\002' >$L; sleep 0.3|45: 01 01 01 01 01 00 00;01: 02|GAP 2 of 8;2 bytes left over
gap_in_frame|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001' >$L; sleep 0.01; printf '\001\000\000' >$L|45: 01 01 01 01 01 00 00|GAP 5 of 8
7e1_read_at_8n1|stty -F $L 9600 cs7 parenb -parodd raw -echo 2>/dev/null; printf '\105\001\001\001\001\001\000\000' >$L|66: 06 06 06 06 06 00 00|Framing error in byte 1 of 8;Framing error in byte 2 of 8;Break at byte 2 of 8;Framing error in byte 3 of 8;Break at byte 3 of 8;Framing error in byte 4 of 8;Break at byte 4 of 8;Framing error in byte 5 of 8;Break at byte 5 of 8;Framing error in byte 6 of 8;Break at byte 6 of 8;Framing error in byte 7 of 8;Break at byte 7 of 8;Framing error in byte 8 of 8;Break at byte 8 of 8
break|python3 -c "$BREAK"|45: 01 01 01 01 01 00 00;00: 45 01 01 01 01 01 00|Framing error in byte 1 of 8;Break at byte 1 of 8;GAP 1 of 8;GAP 1 of 8
ROWS
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
