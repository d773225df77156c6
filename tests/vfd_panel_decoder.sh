#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# sigrok's frame decoder, vfd_panel, on the virtual panel's own dumps: each
# row has a sender write to the panel's line under `panelsim --vcd` (or, for
# a row whose sender is "timed STEPS", has line_script play the steps on the
# panel's own line at exact times and dump it), reads the dump back at 19200
# 8N1 through the UART decoder and vfd_panel, and compares the frames and the
# warnings and notes it shows, each list joined by ";". Then the cases of
# breaks that the panel's own tests share (break_cases.tsv beside this
# script): vfd_panel must make the same frames, with the same codes, of the
# panel's dump as the panel reports. No verdict here hangs on a real pause
# near a threshold: such a case is timed.
#
# usage: vfd_panel_decoder.sh DEMO PANELSIM DECODERS_DIR WORK_DIR SENDER LINE_SCRIPT
# (exit 77: no sigrok-cli)
set -eu
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is not installed"; exit 77; }
demo=$1 panelsim=$2 work=$4 sender=$5 line_script=$6
cases=$(dirname "$0")/break_cases.tsv
# shellcheck source=tests/watch_required.sh
. "$(dirname "$0")/watch_required.sh"
export SIGROKDECODE_DIR="$3" PYTHONDONTWRITEBYTECODE=1
mkdir -p "$work"
L=$work/line
export L

# Annotation classes of vfd_panel, one line each; anything sigrok-cli says on
# standard error (a decoder's exception too) is a failure.
annotations() {
    sigrok-cli -I vcd -i "$1" -A "vfd_panel=$2" \
        -P uart:rx=line:baudrate=19200:data_bits=8:parity=none:stop_bits=1,vfd_panel \
        2>"$work/stderr" | sed -n 's/^vfd_panel-1: //p'
    if [ -s "$work/stderr" ]; then cat "$work/stderr" >&2; return 1; fi
}
decode() { annotations "$@" | paste -sd ';' -; }

# The frames as break_cases.tsv gives them: a frame's warnings come before
# it, and are named by their codes.
frames_and_codes() {
    annotations "$1" frame:warning | awk '
        BEGIN { n = split("break cut_short framing gap left_over parity unknown", order, " ") }
        function codes(   i, s) {
            for (i = 1; i <= n; i++) if (order[i] in c) s = s (s == "" ? " !" : ",") order[i]
            split("", c)
            return s
        }
        /^[0-9a-f][0-9a-f](: |$)/ { sub(/: /, " "); out = out sep $0 codes(); sep = "; "; next }
        /^Break at byte|^Out of step/ { c["break"]; next }
        /^Frame cut short/ { c["cut_short"]; next }
        / left over$/ { c["left_over"]; next }
        /^Framing error/ { c["framing"]; next }
        /^Parity error/ { c["parity"]; next }
        /^Gap/ { c["gap"]; next }
        { c["unknown"] }
        END { print out }'
}

gap='Gap of more than a character after byte'
passed=0 failed=0 skipped=0
fail() { # NAME GOT WANT [GOT WANT]
    failed=$((failed + 1))
    printf 'FAIL %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
    [ $# -lt 5 ] || printf '  got:  %s\n  want: %s\n' "$4" "$5"
}

# name | sender, run by sh with the line at $L (demo: the demo; timed STEPS:
# line_script's) | frames | warnings and notes
while IFS='|' read -r name script frames warnings; do
    dump=$work/$name.vcd
    # shellcheck disable=SC2086 # the steps are words
    case $script in
    demo) "$demo" --vcd "$dump" >/dev/null ;;
    'timed '*) "$line_script" --vcd "$dump" ${script#timed } >/dev/null ;;
    *) "$panelsim" -l "$L" --vcd "$dump" -- sh -c "$script" >/dev/null || true ;;
    esac
    warnings=$(printf %s "$warnings" | sed "s/GAP/$gap/g")
    got_frames=$(decode "$dump" frame) && got_warnings=$(decode "$dump" warning:note) || got_frames='sigrok-cli failed'
    if [ "$got_frames" = "$frames" ] && [ "$got_warnings" = "$warnings" ]; then
        passed=$((passed + 1))
    else
        fail "$name" "$got_frames" "$frames" "$got_warnings" "$warnings"
    fi
done <<'ROWS'
demo|demo|45: 01 01 01 01 01 00 00;45: 01 01 01 01 01 00 00;0a: 0d 11 13 00 00 00 00|
cut_short_at_end|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001' >$L; sleep 0.01|45: 01 01 01 01|GAP 5 of 8;Frame cut short: 5 of 8 bytes
cut_short|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001' >$L; sleep 0.3|45: 01 01 01 01|GAP 5 of 8;Frame cut short: 5 of 8 bytes
left_over|stty -F $L 19200 raw -echo; printf '\105\001\001\001\001\001\000\000\001\002' >$L; sleep 0.3|45: 01 01 01 01 01 00 00;01: 02|GAP 2 of 8;2 bytes left over
gap_in_frame|timed write:4501010101 sleep:10 write:010000|45: 01 01 01 01 01 00 00|GAP 5 of 8
gap_of_100_ms_ends_a_frame|timed write:4501010101 drain sleep:100.5 write:010000|45: 01 01 01 01;01: 00 00|GAP 5 of 8;Frame cut short: 5 of 8 bytes;GAP 3 of 8;Frame cut short: 3 of 8 bytes
7e1_read_at_8n1|stty -F $L 9600 cs7 parenb -parodd raw -echo 2>/dev/null; printf '\105\001\001\001\001\001\000\000' >$L|66: 06 06 06 06 06 00 00|Framing error in byte 1 of 8;Framing error in byte 2 of 8;Framing error in byte 3 of 8;Framing error in byte 4 of 8;Framing error in byte 5 of 8;Framing error in byte 6 of 8;Break at byte 7 of 8;Break at byte 8 of 8
ROWS

# The shared cases of breaks, each in every mode it names.
tab=$(printf '\t')
while IFS=$tab read -r name modes steps frames; do
    case $name in '' | '#'*) continue ;; esac
    for mode in $(printf %s "$modes" | tr , ' '); do
        dump=$work/$name-$mode.vcd
        at_arrival=
        [ "$mode" = held ] || at_arrival=-a
        # shellcheck disable=SC2086 # the steps are words
        if [ "$mode" = timed ]; then
            "$line_script" --vcd "$dump" $steps >/dev/null 2>"$work/panel-stderr"
        else
            timeout 60 "$panelsim" -l "$L" $at_arrival --vcd "$dump" -- \
                "$sender" "$L" termios:19200:8N1 $steps >/dev/null 2>"$work/panel-stderr" || true
        fi
        if watch_missing "$work/panel-stderr"; then
            skipped=$((skipped + 1))
            continue
        fi
        got=$(frames_and_codes "$dump") || got='sigrok-cli failed'
        if [ "$got" = "$frames" ]; then
            passed=$((passed + 1))
        else
            fail "$name ($mode)" "$got" "$frames"
        fi
    done
done <"$cases"
echo "$passed passed, $failed failed, $skipped skipped (the panel cannot watch here)"
[ "$failed" -eq 0 ]
