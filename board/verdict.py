#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Judges one board's suite: the driver's verdicts from the console, and what
left the board's UART as the virtual panel reported it.

usage: verdict.py CONSOLE_LOG PANEL_LOG

Every case names, in order, the frames it put on the line; they must have
arrived in that order (or in any order, for runs made at once), each clean:
whole, at 19200 8N1 raw. FRAME*N stands for N of that frame in a row, A+B
for the frames A and B in either order. Prints one line per case and
"N passed, N failed"; exits 1 when a case failed, the board did not finish,
or the line holds anything no case sent.
"""
import re
import sys

CASE = re.compile(r"board: case (\S+) (ok|FAIL (.*))$")
FRAMES = r"[0-9a-f]{16}(?:\*\d+|(?:\+[0-9a-f]{16})*)"
LINE = re.compile(rf"board: line (\S+)( any)?((?: {FRAMES})*)$")
DONE = re.compile(r"board: done (\d+)$")
FRAME = re.compile(r"^panel \S+  ((?:[0-9a-f]{2} )*[0-9a-f]{2})\s+(.*?)(?:  !! (.*))?$")


def booting(report):
    """Whether a report holds nothing but breaks' 00s, flagged as breaks."""
    data, _, flags = report
    return set(data.split()) == {"00"} and "break" in (flags or "")


def parts(words, any_order):
    """The frames a case wants, as (frames, in_any_order) parts, in order."""
    if any_order:
        return [(words, True)]
    out = []
    for word in words:
        frame, _, count = word.partition("*")
        out.append(([frame] * int(count), False) if count else (word.split("+"), True))
    return out


def shown(frames):
    """Frames as a case names them: runs of one frame as FRAME*N."""
    out = []
    for frame in frames:
        if out and out[-1][0] == frame:
            out[-1][1] += 1
        else:
            out.append([frame, 1])
    return " ".join(f if n == 1 else f"{f}*{n}" for f, n in out) or "nothing"


def main(console_path, panel_path):
    with open(console_path, errors="replace") as f:
        console = [line.rstrip("\r\n") for line in f]
    with open(panel_path, errors="replace") as f:
        received = [m.groups() for m in map(FRAME.match, f) if m]
    # The driver's own breaks as it starts the port at boot, before any case:
    # each reaches a receiver as a lone 00, which no case sends.
    while received and booting(received[0]):
        received.pop(0)

    cases, done = [], False
    for text in console:
        if m := CASE.search(text):
            cases.append({"name": m[1], "faults": [m[3]] if m[3] else []})
        elif (m := LINE.search(text)) and cases and cases[-1]["name"] == m[1]:
            cases[-1]["line"] = (m[3].split(), bool(m[2]))
        elif DONE.search(text):
            done = int(DONE.search(text)[1]) == len(cases)

    at = 0
    for case in cases:
        for want, any_order in parts(*case.get("line", ([], False))):
            got = received[at : at + len(want)]
            at += len(got)
            frames = ["".join(g[0].split()) for g in got]
            if (sorted(frames) if any_order else frames) != (sorted(want) if any_order else want):
                case["faults"].append(f"the line got {shown(frames)}, want {shown(want)}")
            case["faults"] += [f"{g[0]} at {g[1]}: {g[2]}" for g in got if g[2]]
    if at < len(received):
        cases.append({"name": "nothing_else_on_the_line", "faults": [
            f"{len(received) - at} more reports, the first: {' '.join(received[at][:2])}"]})
    if not done:
        cases.append({"name": "board_finished", "faults": ["the board did not run the suite to its end"]})

    failed = 0
    for case in cases:
        if case["faults"]:
            failed += 1
            print(f"FAIL {case['name']}: {'; '.join(case['faults'])}")
        else:
            print(f"ok {case['name']}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
