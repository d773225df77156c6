#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""What the panel's own work costs the programs it runs, side by side with
what the kernel cannot do without, in one run; writes BENCHMARKS.md's section
"Calls" (bench/run.sh and bench/load.sh keep it).

- Per call: a one-byte write at 4000000 baud 8N1, under the panel, under a
  bare supervisor of seccomp's user notification that lets each write go on
  at once (with SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP where the kernel has it,
  and without), and on a plain pseudo-terminal (bench_calls).
- Per run: `panelsim -- true` against `true`.
- Per close: one run of the host build's panel45 under the panel on this
  host as it is, and beside a crowd of sleeping processes holding
  descriptors, which the benchmark makes and ends.
Rounds of every case, interleaved, so that a drift of the machine's speed
touches them alike; medians.

usage: bench/calls.py [BUILD_DIR]   (CALLS_ROUNDS: rounds, default 5;
       CALLS_PANELSIM: another panelsim to measure, such as an earlier
       release's, with BUILD_DIR's other programs; CALLS_SECTION=no: print
       the section without writing it into BENCHMARKS.md)
"""
import os
import platform
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
ROUNDS = int(os.environ.get("CALLS_ROUNDS", "5"))
WRITES = 20000
RUNS = 50          # runs of `true` and of `panelsim -- true` in a round
CLOSES = 10        # panel45 runs in a round, quiet and in the crowd
CROWD = (1500, 60)  # processes, descriptors each
TARGETS = {"call": 1.3, "run_ms": 3.0, "crowd": 1.2}

PANELSIM = os.environ.get("CALLS_PANELSIM", os.path.join(BUILD, "bin", "panelsim"))
CALLS = os.path.join(BUILD, "bin", "bench_calls")
PANEL45 = os.path.join(BUILD, "host", "panel45")
OUT = os.path.join(BUILD, "bench")
LINK = os.path.join(OUT, "calls-line")


def device():
    """The line the host build's programs open."""
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("PANEL_DEVICE:STRING="):
                return line.split("=", 1)[1].strip()
    sys.exit("bench: no PANEL_DEVICE in the build's cache")


def ns_a_write(argv):
    """What bench_calls says a write took; None where the case is not to be had."""
    # A panel's reports go where a user's would when nobody reads them: what
    # a frame's report costs is not a call's.
    p = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in p.stderr.splitlines():
        if line.startswith("bench_calls: ") and line.endswith(" ns a write"):
            return int(line.split()[1])
    if p.returncode == 77:
        return None
    sys.exit(f"bench: {' '.join(argv)}: status {p.returncode}\n{p.stderr}")


def per_call():
    """Nanoseconds a write, per case: medians over the rounds."""
    cases = {
        "panel": [PANELSIM, "-j", "-l", LINK, "--", CALLS, "write", LINK, str(WRITES)],
        "bare, sync wake-up": [CALLS, "supervised", str(WRITES), "sync"],
        "bare": [CALLS, "supervised", str(WRITES)],
        "plain": [CALLS, "plain", str(WRITES)],
    }
    got = {k: [] for k in cases}
    for _ in range(ROUNDS):
        for k, argv in cases.items():
            ns = ns_a_write(argv)
            if ns is not None:
                got[k].append(ns)
    return {k: statistics.median(v) for k, v in got.items() if v}


def run_time(argv):
    start = time.monotonic_ns()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.monotonic_ns() - start


def per_run():
    """Milliseconds of `true` and of `panelsim -- true`: medians."""
    plain, panel = [], []
    for _ in range(ROUNDS):
        for _ in range(RUNS):
            plain.append(run_time(["true"]))
            panel.append(run_time([PANELSIM, "-l", LINK, "--", "true"]))
    return statistics.median(plain) / 1e6, statistics.median(panel) / 1e6


def closes(dev):
    """Milliseconds of one panel45 run under the panel: median."""
    return statistics.median(run_time([PANELSIM, "-l", dev, "--", PANEL45])
                             for _ in range(CLOSES)) / 1e6


def per_close(dev):
    """panel45's run on this host, then beside the crowd, in alternate rounds."""
    quiet, crowded = [], []
    for _ in range(ROUNDS):
        quiet.append(closes(dev))
        crowd = subprocess.Popen([CALLS, "crowd", str(CROWD[0]), str(CROWD[1])],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if crowd.stdout.readline().strip() != "ready":
            sys.exit("bench: the crowd did not gather")
        crowded.append(closes(dev))
        crowd.stdin.close()
        crowd.wait()
    return statistics.median(quiet), statistics.median(crowded)


def processes():
    return sum(1 for d in os.listdir("/proc") if d.isdigit())


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return f"{cpu}, {os.cpu_count()} cores, Linux {platform.release()}"


def section(call, run, close, host):
    bare = call.get("bare, sync wake-up", call["bare"])
    sync = "bare, sync wake-up" in call
    per_call_ratio = call["panel"] / bare
    overhead = run[1] - run[0]
    crowd_ratio = close[1] / close[0]
    rows = [
        "## Calls",
        "",
        "What the panel's own work costs the programs it watches, measured side by side in one "
        "run (`bench/calls.py`): medians of "
        f"{ROUNDS} rounds, the cases interleaved in each.",
        "",
        f"- Machine: {machine()}; {host} processes on the host when the run began",
        f"- Per call: {WRITES} one-byte writes at 4000000 baud 8N1, a round trip each: under the "
        "panel (its reports to /dev/null), under a bare supervisor of seccomp's user notification that lets every write go "
        "on at once" + (" (with `SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP`, as the panel uses it, and without)"
                        if sync else " (this kernel has no `SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP`)")
        + ", and on a plain pseudo-terminal read as fast as it is written",
        f"- Per run: {RUNS} runs a round of `true` and of `panelsim -- true`",
        f"- Per close: {CLOSES} runs a round of `panelsim -- build/host/panel45` (a frame, and its "
        f"last close), on the host as it is and beside {CROWD[0]} sleeping processes holding "
        f"{CROWD[1]} descriptors each",
        "- Reproduce: `cmake -S . -B build && cmake --build build -j2 && bench/calls.py build`",
        "",
        "| case | measured | ratio |",
        "|---|---:|---:|",
    ]
    for k in ["panel", "bare, sync wake-up", "bare", "plain"]:
        if k in call:
            rows.append(f"| a write, {k} | {call[k] / 1000:.1f} µs | {call[k] / bare:.2f} × bare |")
    rows += [
        f"| `true` | {run[0]:.2f} ms | |",
        f"| `panelsim -- true` | {run[1]:.2f} ms | +{overhead:.2f} ms |",
        f"| panel45 under the panel, host as it is | {close[0]:.2f} ms | |",
        f"| panel45 under the panel, beside the crowd | {close[1]:.2f} ms | {crowd_ratio:.2f} × |",
        "",
        "| target | measured | met |",
        "|---|---|---|",
        f"| a watched write at most {TARGETS['call']} × the bare supervisor's | "
        f"{per_call_ratio:.2f} × | {'yes' if per_call_ratio <= TARGETS['call'] else 'no'} |",
        f"| a run at most {TARGETS['run_ms']:.0f} ms more than the command alone | "
        f"+{overhead:.2f} ms | {'yes' if overhead <= TARGETS['run_ms'] else 'no'} |",
        f"| panel45 beside the crowd within {TARGETS['crowd']:.2f} × the host as it is | "
        f"{crowd_ratio:.2f} × | {'yes' if crowd_ratio <= TARGETS['crowd'] else 'no'} |",
        "",
    ]
    return "\n".join(rows)


def write_section(text):
    """The section goes before "Under load", in place of the one there."""
    path = os.path.join(ROOT, "BENCHMARKS.md")
    with open(path) as f:
        lines = f.read().split("\n")
    start = lines.index("## Calls") if "## Calls" in lines else None
    load = lines.index("## Under load") if "## Under load" in lines else len(lines)
    before = lines[:start if start is not None else load]
    while before and before[-1] == "":
        before.pop()
    with open(path, "w") as f:
        f.write("\n".join(before + ["", text] + lines[load:]).rstrip("\n") + "\n")


def main():
    for p in (PANELSIM, CALLS, PANEL45):
        if not os.access(p, os.X_OK):
            sys.exit(f"bench: {p} is missing; build {BUILD} first")
    os.makedirs(OUT, exist_ok=True)
    host = processes()
    call = per_call()
    run = per_run()
    close = per_close(device())
    text = section(call, run, close, host)
    print(text)
    if os.environ.get("CALLS_SECTION", "yes") != "no":
        write_section(text)


main()
