#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The virtual panel under load: a sender sets the line to 4000000 baud 8N1
# and writes 2 MiB of frames in one write; the panel takes them in through
# its transmit buffer as the modelled wire sends them and prints a report per
# frame. Measures the panel's own peak resident memory and its processor time
# (user + system) as a share of the run's wall time, with the reports going
# to /dev/null and to a file; and the same with 8 MiB, and with a buffer of
# 65536 bytes, to show what grows with the volume and the buffer. Rounds of
# every case, the cases interleaved, so that a drift of the machine's speed
# touches them alike; the medians go into BENCHMARKS.md's last section,
# "Under load", which replaces the one there (bench/run.sh keeps it).
#
# usage: bench/load.sh [BUILD_DIR]
#   BUILD_DIR defaults to build, as README builds it (with its tests, whose
#   sender this uses). LOAD_ROUNDS sets the rounds (default 5); a round takes
#   about 2 minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$build/bench
mkdir -p "$out"
panelsim=$build/bin/panelsim
sender=$build/bin/sender
[[ -x $panelsim && -x $sender ]] ||
  { echo "bench: $build has no bin/panelsim and bin/sender; build it with its tests" >&2; exit 1; }
rounds=${LOAD_ROUNDS:-5}
# The panel holds its link while it runs: one in the build folder meets no other build's.
link=$out/load-line
frame=4501010101010000
baud=4000000
results=$out/load.jsonl
reports=$out/load-reports.txt
: >"$results"

# One run: the panel around the sender, its reports to /dev/null or a file.
# Every frame is flagged (4000000 baud is not the controller's 19200): the
# panel exits 1, and the file's summary must count every frame.
run() { # MIB BUFFER TO
  local frames=$(($1 * 1024 * 1024 / 8)) dest=/dev/null
  [[ $3 == file ]] && dest=$reports
  python3 "$root/bench/measure.py" "$results" mib="$1" buffer="$2" to="$3" -- \
    "$panelsim" -l "$link" -b "$2" -- "$sender" "$link" "termios:$baud:8N1" "write:$frame:$frames" \
    >"$dest"
  local status
  status=$(tail -1 "$results" | python3 -c 'import json, sys; print(json.load(sys.stdin)["status"])')
  [[ $status == 1 ]] || { echo "bench: the panel exited $status, not 1" >&2; exit 1; }
  if [[ $3 == file ]] && ! grep -qx "panelsim: $frames frames received, $frames flagged" "$reports"; then
    echo "bench: the panel did not receive all $frames frames: $(tail -1 "$reports")" >&2
    exit 1
  fi
}

for r in $(seq "$rounds"); do
  echo "bench: round $r of $rounds" >&2
  for mib in 2 8; do
    for buffer in 4096 65536; do
      for to in null file; do run "$mib" "$buffer" "$to"; done
    done
  done
done
rm -f "$reports"

section=$out/load.md
BENCH_BAUD=$baud BENCH_ROUNDS=$rounds python3 "$root/bench/load_report.py" "$results" >"$section"
# Everything before the section stays as it is.
{
  sed '/^## Under load$/,$d' "$root/BENCHMARKS.md" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
  echo
  cat "$section"
} >"$out/BENCHMARKS.md"
mv "$out/BENCHMARKS.md" "$root/BENCHMARKS.md"
echo "bench: wrote the section \"Under load\" of $root/BENCHMARKS.md"
