#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""board/verdict.py on a board's console and panel logs as the suite writes
them: a listener's JSON Lines that say what the case sent pass, whatever
boot breaks come first; a report missing, out of order, flagged otherwise,
at other settings or called clean when flagged, a summary that does not
count the reports or none at all, and a break after the start fail; a case
the board cannot run is skipped, not passed.

usage: board_verdict.py VERDICT_PY
"""
import json
import subprocess
import sys
import tempfile

NAME = "panelsim_listens_beside_the_programs"
HEARD = "4501010101010000 4501010101!cut_short 0d!left_over"


def frame(data, *codes, settings="19200 8N1 raw", clean=None):
    return {"type": "frame", "time": "2026-12-09T06:09:11.926+00:00", "t_ns": 1042000,
            "bytes": data, "settings": settings, "clean": not codes if clean is None else clean,
            "flags": [{"code": c, "text": c.replace("_", " ")} for c in codes]}


BOOT = [{"type": "break", "time": "2026-12-09T06:09:11.001+00:00", "t_ns": 1000, "bytes": "",
         "settings": "19200 8N1 raw", "clean": False, "duration_ns": 100000000,
         "flags": [{"code": "break", "text": "break"}]},
        frame("00", "cut_short", "break")]
SENT = [frame("45 01 01 01 01 01 00 00"), frame("45 01 01 01 01", "cut_short"),
        frame("0d", "left_over")]


def summary(reports):
    frames = [r for r in reports if r["type"] == "frame"]
    flagged = [r for r in frames if not r["clean"]]
    return {"type": "summary", "frames": len(frames), "flagged": len(flagged)}


def stream(reports, end=None):
    return reports + [summary(reports) if end is None else end]


# name -> (the listener's objects, the case's verdict, what verdict.py must say, its status)
CASES = {
    "as_sent": (stream(SENT), "ok", f"ok {NAME}", 0),
    "boot_breaks_set_aside": (stream(BOOT + SENT), "ok", f"ok {NAME}", 0),
    "a_report_missing": (stream([SENT[0], SENT[2]]), "ok",
                         "the listener reported 4501010101010000 0d!left_over", 1),
    "out_of_order": (stream([SENT[1], SENT[0], SENT[2]]), "ok",
                     "want 4501010101010000 4501010101!cut_short", 1),
    "flagged_otherwise": (stream([SENT[0], frame("45 01 01 01 01", "left_over"), SENT[2]]), "ok",
                          "4501010101!left_over", 1),
    "other_settings": (stream([frame("45 01 01 01 01 01 00 00", settings="9600 8N1 raw")] + SENT[1:]),
                       "ok", "4501010101010000 at 9600 8N1 raw", 1),
    "flagged_yet_clean": (stream([SENT[0], frame("45 01 01 01 01", "cut_short", clean=True), SENT[2]]),
                          "ok", "4501010101!cut_short is called clean", 1),
    "summary_miscounts": (stream(SENT, {"type": "summary", "frames": 3, "flagged": 1}), "ok",
                          "the summary counts (3, 1)", 1),
    "no_summary": (SENT, "ok", "no summary: the run did not end", 1),
    "nothing_heard": ([], "ok", "no summary: the run did not end", 1),
    "a_break_later": (stream([SENT[0], BOOT[1]] + SENT[1:]), "ok",
                      "the listener reported 4501010101010000 00!", 1),
    "the_case_failed": (stream(SENT), "FAIL panelsim never listened on /dev/ttyS5",
                        f"FAIL {NAME}: panelsim", 1),
    "skipped": ([], "skip the board has no UARTs wired back to back",
                f"skip {NAME}: the board has no UARTs", 0),
}


def console(objects, verdict):
    lines = [f"board: listen {NAME} {json.dumps(o)}" for o in objects]
    lines.append(f"board: case {NAME} {verdict}")
    if not verdict.startswith("skip"):
        lines += [f"board: line {NAME}", f"board: heard {NAME} {HEARD}"]
    return "\r\n".join(lines + ["board: done 1", ""])


def main(verdict_py):
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        panel = f"{work}/panel"
        with open(panel, "w") as f:
            f.write("panelsim: each byte is judged by the settings in force when it arrived\n"
                    "panelsim: 0 frames received, 0 flagged\n")
        for name, (objects, verdict, says, status) in CASES.items():
            with open(f"{work}/console", "w") as f:
                f.write(console(objects, verdict))
            run = subprocess.run([sys.executable, verdict_py, f"{work}/console", panel],
                                 capture_output=True, text=True, check=False)
            if run.returncode != status or says not in run.stdout:
                failed += 1
                print(f"FAIL {name}: status {run.returncode}, want {status}; want {says!r} in:\n"
                      f"{run.stdout}{run.stderr}")
            else:
                print(f"ok {name}")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
