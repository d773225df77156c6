# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Turns bench/run.sh's measurements into BENCHMARKS.md (on standard output)."""
import json
import os
import platform
import re
import statistics
import subprocess

out = os.environ["BENCH_OUT"]
names = os.environ["BENCH_NAMES"].splitlines()
spoil = os.environ["BENCH_SPOIL"]


def load(name):
    with open(os.path.join(out, name)) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def sh(cmd):
    try:
        return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
    except OSError:
        return "?"


rounds = [load(f"whole-runs-{r}.json") for r in range(1, int(os.environ["BENCH_ROUNDS"]) + 1)]
pc = load("panelcmd.json")["panelcmd 45 1 1 1 1 1"]


def mean(name):
    return statistics.mean(r[name]["mean"] for r in rounds)


def ratio(name, to="true"):
    """The median over the rounds of name's time over to's."""
    return statistics.median(r[name]["mean"] / r[to]["mean"] for r in rounds)


def spread(name):
    return statistics.mean(r[name]["stddev"] for r in rounds)

cpu = sh("lscpu | sed -n 's/^Model name: *//p'") or platform.processor()
print("# Benchmarks\n")
print(f"Whole runs against the virtual panel (`panelsim`), timed by hyperfine in {len(rounds)} rounds "
      "of 200 runs of every way after 20 warm-up runs (panelcmd: 10 runs). Ratios are the median over "
      "the rounds of the ratio within a round, so that a drift of the machine's speed does not count.\n")
print(f"- Machine: {cpu}, {os.cpu_count()} cores, Linux {platform.release()}")
if os.environ.get("BENCH_PINNED", "0") != "0":
    print("- The panel runs on the last core by itself, as the controller is a processor of its own; "
          "hyperfine and the ways run on the other cores. Unpinned, the panel's work on each frame "
          "competes with the ways for the same cores, and what a way that writes a frame seems to cost goes up")
print(f"- {sh('hyperfine --version')}; programs: the host build (`build/host`), dynamically linked, hardened as by default (PIE, stack protector, fortified functions, full RELRO)")
print("- The panel runs without a command, so it holds no program: the times are the ways' own cost as "
      "processes, on a line without wire time. On a real line, or on the panel's modelled wire with a "
      "command, each way that sends a frame also waits for its bytes to leave when it closes the port: "
      "4.17 ms for 8 bytes at 19200 8N1, the physical floor added to every way alike")
print("- Reproduce: `cmake -S . -B build && cmake --build build -j2 && "
      "cmake -S . -B build-static -DPANEL_STATIC=ON && cmake --build build-static -j2 && "
      "bench/run.sh build build-static`\n")
print("| way | mean ± σ (ms) | × `true` |")
print("|---|---:|---:|")
for n in names:
    print(f"| {n} | {mean(n) * 1e3:.2f} ± {spread(n) * 1e3:.2f} | {ratio(n):.2f} |")
print()
print(f"| target | measured | met |")
print("|---|---|---|")
rows = [
    ("panel45 within 1.10 × `true`", f"{ratio('panel45'):.2f} ×", ratio("panel45") <= 1.10),
    ("panel45 at most half the shell way", f"{ratio('panel45', 'shell: stty + printf'):.2f} ×",
     ratio("panel45", "shell: stty + printf") <= 0.5),
    ("panelcmd at most 1.01 s in all", f"{pc['mean']:.4f} s (beyond the pause: {(pc['mean'] - 1) * 1e3:.1f} ms)",
     pc["mean"] <= 1.01),
]
if "panel45 (static build)" in names:
    st = ratio("panel45 (static build)")
    rows.insert(1, ("panel45, static build, within 1.10 × `true`", f"{st:.2f} ×", st <= 1.10))
for what, got, ok in rows:
    print(f"| {what} | {got} | {'yes' if ok else 'no'} |")

print(f"\n`panel45 x` stops at its usage text, before the port: it takes {ratio('panel45 x'):.2f} × `true`. "
      f"The rest of a whole run, {(mean('panel45') - mean('panel45 x')) * 1e3:.2f} ms, is the port: open, settings, the write "
      "and the close. A static build saves the dynamic loader's work at every start.")
print(f"\n## On a spoiled line\n")
print(f"Before each way, an earlier user left the line with `stty {spoil}`. "
      "What the panel received, and the line settings the frame left under on its modelled wire "
      "(the size and parity as the program asked for them):\n")
print("| way | bytes on the line | line settings | frame exact at 19200 8N1 raw |")
print("|---|---|---|---|")
for i, n in enumerate(names):
    if n in ("true", "panel45 x"):
        continue
    try:
        with open(os.path.join(out, f"spoiled-{i}.log")) as f:
            log = f.read()
    except OSError:
        continue
    lines = [l for l in log.splitlines() if l.startswith("panel ")]
    got = " / ".join(re.sub(r"^panel \S+  ", "", l).split("  ")[0].strip() for l in lines) or "nothing"
    settings = "; ".join(sorted({re.sub(r"^panel \S+  ", "", l).split("  ")[1] for l in lines})) or "-"
    exact = len(lines) == 1 and "!!" not in lines[0] and "45 01 01 01 01 01 00 00" in lines[0]
    flags = "; ".join(l.split("!! ", 1)[1] for l in lines if "!! " in l)
    print(f"| {n} | {got} | {settings} | {'yes' if exact else 'no: ' + (flags or 'no frame')} |")
