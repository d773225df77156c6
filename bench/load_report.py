# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Turns bench/load.sh's measurements (RESULTS, JSON Lines) into BENCHMARKS.md's
section "Under load", on standard output.

usage: load_report.py RESULTS
"""
import json
import os
import platform
import statistics
import subprocess
import sys

MEMORY_TARGET_MIB = 64
SHARE_TARGET = 0.5
SHARE_AIM = 0.1
# What "does not grow" allows between 2 and 8 MiB: the noise of a few pages
# of the C library's heap.
GROWTH_ALLOWED_MIB = 0.25
# Work per byte counts as constant while the processor time per MiB of 8 MiB
# stays within this of 2 MiB's.
PER_BYTE_ALLOWED = 0.10
# Above this share the panel is busy for the whole run rather than working per byte.
BUSY_SHARE = 0.9

baud = int(os.environ["BENCH_BAUD"])
rounds = int(os.environ["BENCH_ROUNDS"])
with open(sys.argv[1]) as f:
    runs = [json.loads(line) for line in f]


def cases():
    """The cases in the order they ran: (MiB, buffer, where the reports go)."""
    seen = []
    for r in runs:
        key = (int(r["mib"]), int(r["buffer"]), r["to"])
        if key not in seen:
            seen.append(key)
    return seen


def median(key, what):
    return statistics.median(what(r) for r in runs
                             if (int(r["mib"]), int(r["buffer"]), r["to"]) == key)


def cpu(r):
    return r["user_s"] + r["sys_s"]


def share(key):
    return median(key, lambda r: cpu(r) / r["wall_s"])


def peak(key):
    return median(key, lambda r: r["peak_kib"] / 1024)


def per_mib(key):
    return median(key, lambda r: cpu(r) / int(r["mib"]))


def sh(cmd):
    try:
        return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
    except OSError:
        return ""


def where(to):
    return "/dev/null" if to == "null" else "a file"


def char_us():
    return 10 / baud * 1e6


def table():
    print("| data | buffer | reports to | run (s) | panel's processor time (s) | share of the run "
          "| per MiB (s) | panel's peak memory (MiB) |")
    print("|---|---:|---|---:|---:|---:|---:|---:|")
    for key in cases():
        mib, buffer, to = key
        print(f"| {mib} MiB | {buffer} | {where(to)} | {median(key, lambda r: r['wall_s']):.2f} "
              f"| {median(key, cpu):.2f} | {share(key) * 100:.1f} % | {per_mib(key):.3f} "
              f"| {peak(key):.1f} |")


def targets():
    main = [k for k in cases() if k[0] == 2 and k[1] == 4096]
    worst_peak = max(peak(k) for k in main)
    worst_share = max(share(k) for k in main)
    pairs = [((2, b, t), (8, b, t)) for mib, b, t in cases() if mib == 2]
    growth = max(peak(big) - peak(small) for small, big in pairs)
    per_byte = max(per_mib(big) / per_mib(small) - 1 for small, big in pairs)
    rows = [
        (f"peak memory at most {MEMORY_TARGET_MIB} MiB (2 MiB, buffer 4096)",
         f"{worst_peak:.1f} MiB", worst_peak <= MEMORY_TARGET_MIB),
        ("processor time at most half the run (2 MiB, buffer 4096)",
         f"{worst_share * 100:.1f} %", worst_share <= SHARE_TARGET),
        ("aim: processor time at most a tenth of the run", f"{worst_share * 100:.1f} %",
         worst_share <= SHARE_AIM),
        ("memory does not grow with the volume (8 MiB against 2 MiB)",
         f"{growth:+.2f} MiB at most", growth <= GROWTH_ALLOWED_MIB),
        ("the work per byte is constant (per MiB, 8 MiB against 2 MiB)",
         f"{per_byte * 100:+.1f} % at most", per_byte <= PER_BYTE_ALLOWED),
    ]
    print("| target | measured | met |")
    print("|---|---|---|")
    for what, got, ok in rows:
        print(f"| {what} | {got} | {'yes' if ok else 'no'} |")
    if (2, 65536, "null") in cases():
        more = peak((2, 65536, "null")) - peak((2, 4096, "null"))
        print(f"\nA transmit buffer of 65536 bytes takes {more:.1f} MiB more than one of 4096, "
              "whatever the volume.")
    if worst_share > BUSY_SHARE:
        print("\nThe panel takes nearly all the processor it is given for the whole run: it does "
              "not sleep while the wire sends, so its time follows the run's length, and the "
              "constant work per byte says only that.")


def main():
    cpu_name = sh("lscpu | sed -n 's/^Model name: *//p'") or platform.processor()
    repeats = (f"Medians of {rounds} rounds, the cases interleaved in each." if rounds > 1
               else "One round.")
    print("## Under load\n")
    print(f"A sender sets the line to {baud} baud 8N1 and writes 2 MiB of `panel45`'s frame "
          f"in one write ({char_us():.1f} µs a byte on the modelled wire: 2 MiB take "
          f"{2 * 1024 * 1024 * char_us() / 1e6:.2f} s); the panel takes it in through its "
          "transmit buffer as the wire sends it and prints a report per frame, to /dev/null or "
          "to a file. 8 MiB, and a buffer of 65536 bytes (`--buffer`), show what grows with the "
          "volume and with the buffer. Every frame is flagged, as the speed is not 19200. "
          f"{repeats}\n")
    print(f"- Machine: {cpu_name}, {os.cpu_count()} cores, Linux {platform.release()}, "
          "shared with other work; the panel is not pinned to a core")
    print("- Measured: the panel alone, not the sender it runs. Its processor time is its user "
          "plus system time from /proc once it has ended; its share is that over the run's wall "
          "time, from the panel's start to its end. Its peak memory is its high-water mark of "
          "resident memory (VmHWM), sampled every 10 ms. GNU time and getrusage of the panel "
          "would count the sender too, whom the panel reaps")
    print("- Programs: the build that `bench/load.sh` is given (README's: `cmake -S . -B build`, "
          "MinSizeRel), its `panelsim` and the tests' `sender`")
    print("- Reproduce: `cmake -S . -B build && cmake --build build -j2 && bench/load.sh build` "
          "(`LOAD_ROUNDS=N` for other than 5 rounds)\n")
    table()
    print()
    targets()


main()
