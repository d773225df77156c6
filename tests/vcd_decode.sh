#!/bin/sh
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# vcd_decode.sh FILE BAUD FORMAT: the bytes that sigrok's UART decoder reads
# from the wire `line` of a Value Change Dump, for example
#
#   tests/vcd_decode.sh frame.vcd 19200 8N1
#
# FORMAT is data bits (5..8), parity (N, E, O, M mark, S space) and stop
# bits (1, 2); BAUD and FORMAT may also come as one word, "19200 8N1".
# Prints the bytes in hexadecimal on one line, then a line for each error
# the decoder found, with the time on the line:
#
#   framing error at 1.0417 ms
#   parity error at 0.4688 ms
#   break at 2.0000 ms
#
# Exit status: 0 clean, 1 when an error was found, 2 for bad use or when
# sigrok-cli fails.

# The $ in the sed patterns below are VCD keywords, not expansions.
# shellcheck disable=SC2016
set -eu

usage() {
    echo "usage: vcd_decode.sh FILE BAUD FORMAT   (FORMAT like 8N1, 7E1, 8O2)" >&2
    exit 2
}
[ $# -ge 2 ] || usage
file=$1
shift
# Split "19200 8N1" into its words.
set -f
# shellcheck disable=SC2048,SC2086
set -- $*
[ $# -eq 2 ] || usage
baud=$1
format=$2
case $baud in '' | *[!0-9]*) usage ;; esac
case $format in [5-8][NEOMS][12]) ;; *) usage ;; esac
[ -r "$file" ] || { echo "vcd_decode.sh: cannot read $file" >&2; exit 2; }

bits=$(printf %s "$format" | cut -c1)
stop=$(printf %s "$format" | cut -c3)
case $(printf %s "$format" | cut -c2) in
N) parity=none ;;
E) parity=even ;;
O) parity=odd ;;
M) parity=one ;;
S) parity=zero ;;
esac

# sigrok's VCD input makes one sample per time unit: the unit gives the times.
unit_ns=$(sed -n '1,/\$enddefinitions/p' "$file" | tr '\n' ' ' |
    sed -n 's/.*\$timescale *\([0-9]*\) *\([munpf]*s\) *\$end.*/\1 \2/p' |
    awk '{ f["s"] = 1e9; f["ms"] = 1e6; f["us"] = 1e3; f["ns"] = 1; f["ps"] = 1e-3; f["fs"] = 1e-6
           if ($2 in f) print $1 * f[$2] }')
[ -n "$unit_ns" ] || { echo "vcd_decode.sh: $file has no timescale" >&2; exit 2; }

# The decoder reads the first stop bit only; a second one is idle line to it.
# sigrok-cli exits 0 on some failures (no wire named line): anything it says
# on standard error is taken as one.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
if ! out=$(sigrok-cli -I vcd -i "$file" --protocol-decoder-samplenum \
    -P "uart:rx=line:baudrate=$baud:data_bits=$bits:parity=$parity:stop_bits=$stop:format=hex" \
    -A uart=rx-data:rx-parity-err:rx-warnings:rx-break 2>"$err") || [ -s "$err" ]; then
    cat "$err" >&2
    echo "vcd_decode.sh: sigrok-cli failed on $file" >&2
    exit 2
fi

printf '%s\n' "$out" | awk -v unit="$unit_ns" '
    function at(range) { split(range, r, "-"); return sprintf("%.4f ms", r[1] * unit / 1e6) }
    $2 != "uart-1:" { next }
    $3 ~ /^[0-9A-F]+$/ && NF == 3 { bytes = bytes sep tolower($3); sep = " "; next }
    $3 == "Frame" { errors = errors "framing error at " at($1) "\n"; next }
    $3 == "Parity" { errors = errors "parity error at " at($1) "\n"; next }
    $3 == "Break" { errors = errors "break at " at($1) "\n"; next }
    END { printf "%s\n%s", bytes, errors; exit errors != "" }'
