#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Judges one board's suite: the driver's verdicts from the console, what
left the board's UART as the virtual panel reported it, and what panelsim
--listen reported on the board.

usage: verdict.py CONSOLE_LOG PANEL_LOG

Every case names, in order, the frames it put on the line; they must have
arrived in that order (or in any order, for runs made at once), each clean:
whole, at 19200 8N1 raw. FRAME*N stands for N of that frame in a row, A+B
for the frames A and B in either order. A case that listened on the board
names what the listener must have reported, in order: each report's bytes,
and !CODE,... for its flags; the listener's JSON Lines must say exactly
that, at 19200 8N1 raw, and end with a summary that counts them. Prints one
line per case and "N passed, N failed" (and ", N skipped" when a case could
not run on the board); exits 1 when a case failed, the board did not
finish, or the line holds anything no case sent.
"""
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from verdicts import read  # noqa: E402  the panel's JSON Lines, read whole

CASE = re.compile(r"board: case (\S+) (ok|skip (.*)|FAIL (.*))$")
FRAMES = r"[0-9a-f]{16}(?:\*\d+|(?:\+[0-9a-f]{16})*)"
LINE = re.compile(rf"board: line (\S+)( any)?((?: {FRAMES})*)$")
DONE = re.compile(r"board: done (\d+)$")
HEARD = re.compile(r"board: heard (\S+)((?: [0-9a-f]+(?:![a-z_,]+)?)+)$")
LISTEN = re.compile(r"board: listen (\S+) (.*)$")
SETTINGS = "19200 8N1 raw"
FRAME = re.compile(r"^panel \S+  ((?:[0-9a-f]{2} )*[0-9a-f]{2})\s+(.*?)(?:  !! (.*))?$")


def booting(report):
    """Whether a report holds nothing but breaks' 00s, flagged as breaks."""
    data, _, flags = report
    return set(data.split()) == {"00"} and "break" in (flags or "")


def boot_break(report):
    """Whether a listener's report is of a break alone, as a sender's driver
    makes them when the kernel starts the port."""
    return report["type"] == "break" or (
        report["bytes"] == "00" and any(f["code"] == "break" for f in report["flags"]))


def named(data, codes):
    """A report as a case names it: its bytes, then !CODE,... when flagged."""
    return data + ("!" + ",".join(sorted(codes)) if codes else "")


def heard(report):
    """A listener's report as a case names it, and what is wrong with it
    besides."""
    if report["type"] != "frame":
        return report["type"], []
    codes = [f["code"] for f in report["flags"]]
    word = named(report["bytes"].replace(" ", ""), codes)
    wrong = [] if report["settings"] == SETTINGS else [f"{word} at {report['settings']}"]
    if report["clean"] != (not codes):
        wrong.append(f"{word} is {'' if report['clean'] else 'not '}called clean")
    return word, wrong


def listened(want, lines):
    """What is wrong with a listener's JSON Lines, against the reports a case
    wants, in order."""
    try:
        reports, _ = read(lines)
    except (ValueError, KeyError, TypeError) as e:
        return [f"the listener's reports: {e}"]
    while reports and boot_break(reports[0]):
        reports.pop(0)
    got, faults = [], []
    for report in reports:
        word, wrong = heard(report)
        got.append(word)
        faults += wrong
    normal = [named(data, codes.split(",") if codes else [])
              for data, _, codes in (w.partition("!") for w in want)]
    if got != normal:
        faults.insert(0, f"the listener reported {' '.join(got) or 'nothing'}, want {' '.join(normal)}")
    return faults


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

    cases, done, listens = [], False, {}
    for text in console:
        if m := CASE.search(text):
            cases.append({"name": m[1], "faults": [m[4]] if m[4] else [], "skipped": m[3]})
        elif (m := LINE.search(text)) and cases and cases[-1]["name"] == m[1]:
            cases[-1]["line"] = (m[3].split(), bool(m[2]))
        elif (m := HEARD.search(text)) and cases and cases[-1]["name"] == m[1]:
            cases[-1]["heard"] = m[2].split()
        elif m := LISTEN.search(text):
            listens.setdefault(m[1], []).append(m[2])
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
        if "heard" in case:
            case["faults"] += listened(case["heard"], listens.get(case["name"], []))
    if at < len(received):
        cases.append({"name": "nothing_else_on_the_line", "faults": [
            f"{len(received) - at} more reports, the first: {' '.join(received[at][:2])}"]})
    if not done:
        cases.append({"name": "board_finished", "faults": ["the board did not run the suite to its end"]})

    failed = skipped = 0
    for case in cases:
        if case["faults"]:
            failed += 1
            print(f"FAIL {case['name']}: {'; '.join(case['faults'])}")
        elif case.get("skipped"):
            skipped += 1
            print(f"skip {case['name']}: {case['skipped']}")
        else:
            print(f"ok {case['name']}")
    print(f"{len(cases) - failed - skipped} passed, {failed} failed" +
          (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
