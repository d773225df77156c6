#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Times whole runs against the virtual panel with hyperfine: panel45 beside
# `true` (the cost of starting any process at all), the usual shell way, and
# socat and pyserial where they are installed; panelcmd beyond its pause.
# Then sends the frame each way to a line whose settings an earlier user
# spoiled, and records what the panel made of it. Writes BENCHMARKS.md, but
# for its sections "Calls" (bench/calls.py) and "Under load" (bench/load.sh),
# which it keeps.
#
# usage: bench/run.sh [BUILD_DIR [STATIC_BUILD_DIR]]
#   BUILD_DIR defaults to build, as README builds it; a static build is
#   timed too when given, configured with -DPANEL_STATIC=ON and BUILD_DIR's
#   line (-DPANEL_DEVICE=BUILD_DIR/ttyS1 by default: each build folder has
#   its own).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$build/bench
mkdir -p "$out"
dev=$(sed -n 's/^PANEL_DEVICE:STRING=//p' "$build/CMakeCache.txt")
panelsim=$build/bin/panelsim
command -v hyperfine >/dev/null || { echo "bench: hyperfine is needed (Debian package hyperfine)" >&2; exit 1; }

frame='\105\001\001\001\001\001\000\000'
# "panel45 x" stops at its usage text: the start-up alone, without the port.
names=("true" "panel45 x" "panel45" "shell: stty + printf")
cmds=("true" "$build/host/panel45 x" "$build/host/panel45" "sh -c 'stty -F $dev 19200 raw -echo; printf \"$frame\" > $dev'")
if [[ -n ${2:-} ]]; then
  static=$(cd "$2" && pwd)
  [[ $(sed -n 's/^PANEL_DEVICE:STRING=//p' "$static/CMakeCache.txt") == "$dev" ]] ||
    { echo "bench: $static opens another device than $build; configure it with -DPANEL_DEVICE=$dev" >&2; exit 1; }
  names+=("panel45 (static build)")
  cmds+=("$static/host/panel45")
fi
if command -v socat >/dev/null; then
  names+=("socat")
  cmds+=("sh -c 'printf \"$frame\" | socat -u STDIN $dev,b19200,raw,echo=0'")
fi
if /usr/bin/python3 -c 'import serial' 2>/dev/null; then
  names+=("pyserial")
  cmds+=("/usr/bin/python3 -c 'import serial; s = serial.Serial(\"$dev\", 19200); s.write(bytes([0x45, 1, 1, 1, 1, 1, 0, 0])); s.close()'")
fi

wait_for_link() {
  for _ in $(seq 100); do [[ -L $dev ]] && return; sleep 0.05; done
  echo "bench: the panel did not come up at $dev" >&2
  exit 1
}

# Timing, against a panel that stays up for all runs. The controller is a
# processor of its own: the panel gets the last core to itself, and the ways
# run on the others, so that its work on each frame does not count as theirs.
cores=$(nproc)
pin_panel=() pin_ways=()
if ((cores >= 2)); then
  pin_panel=(taskset -c $((cores - 1)))
  pin_ways=(taskset -c "0-$((cores - 2))")
fi
"${pin_panel[@]}" "$panelsim" -l "$dev" >"$out/panel.log" 2>&1 &
panel=$!
trap 'kill -INT $panel 2>/dev/null || true' EXIT
wait_for_link
args=()
for i in "${!cmds[@]}"; do args+=(-n "${names[$i]}" "${cmds[$i]}"); done
# Rounds, so that a drift of the machine's speed during the runs shows as
# spread between rounds instead of as a difference between the ways.
rounds=5
for r in $(seq $rounds); do
  "${pin_ways[@]}" hyperfine -N -i --warmup 20 --runs 200 --export-json "$out/whole-runs-$r.json" "${args[@]}"
done
"${pin_ways[@]}" hyperfine -N --warmup 1 --runs 10 --export-json "$out/panelcmd.json" \
  -n "panelcmd 45 1 1 1 1 1" "$build/host/panelcmd 45 1 1 1 1 1"
kill -INT $panel
wait $panel || true
trap - EXIT

# Each way once more, after an earlier user left the line at 9600 7O2 with
# flow control, output processing and a cooked, echoing input side.
spoil="9600 cs7 parenb parodd cstopb crtscts ixon ixoff opost onlcr icanon echo isig"
for i in "${!cmds[@]}"; do
  [[ ${names[$i]} == true || ${names[$i]} == "panel45 x" ]] && continue
  "$panelsim" -l "$dev" -- sh -c "stty -F $dev $spoil 2>/dev/null; ${cmds[$i]} >/dev/null" \
    >"$out/spoiled-$i.log" 2>&1 || true
done

export BENCH_OUT=$out BENCH_ROUNDS=$rounds BENCH_PINNED=${#pin_panel[@]} BENCH_NAMES="$(printf '%s\n' "${names[@]}")" BENCH_SPOIL="$spoil"
# bench/calls.py's section, "Calls", and bench/load.sh's, "Under load", stay
# at the end as they were.
{
  python3 "$root/bench/report.py"
  if [[ -f $root/BENCHMARKS.md ]] && grep -q '^## \(Calls\|Under load\)$' "$root/BENCHMARKS.md"; then
    echo
    sed -n '/^## \(Calls\|Under load\)$/,$p' "$root/BENCHMARKS.md"
  fi
} >"$out/BENCHMARKS.md"
mv "$out/BENCHMARKS.md" "$root/BENCHMARKS.md"
echo "bench: wrote $root/BENCHMARKS.md"
