#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""panelsim --json, read by a real JSON parser: every line of the same runs
as the text reports says the same frames, bytes, settings and verdicts, in
valid JSON of the documented form, with flag codes from the documented set;
the summary counts the frame reports and those of them that are flagged.

usage: json_reports.py PANELSIM SENDER LINK
"""
import datetime
import json
import re
import subprocess
import sys

CODES = {"speed", "data_bits", "parity", "stop_bits", "output_processing", "flow_control",
         "settings_changed", "cut_short", "left_over", "flushed", "run_ended", "settings_unknown",
         "break", "framing", "overrun"}
TEXT = re.compile(r"^panel \S+  (break [0-9.]+ ms|(?:[0-9a-f]{2} ?)+?)\s+(\S+ \S+(?: \S+)*?)(?:  !! (.*))?$")
FRAME = "4501010101010000"

def runs(sender, link):
    """name -> the sender's steps"""
    return {
        "clean_and_seven_even": [sender, link, "termios:19200:8N1", "write:" + FRAME, "drain",
                                 "termio:19200:7E1", "write:" + FRAME],
        "break": [sender, link, "termios:19200:8N1", "write:" + FRAME, "break", "write:" + FRAME],
        "short_and_left_over": [sender, link, "termios:19200:8N1", "write:450101", "sleep:150",
                                "write:" + FRAME + "0d"],
    }

def text_reports(out):
    reports, summary = [], None
    for line in out.splitlines():
        m = TEXT.match(line)
        if m:
            kind = "break" if m[1].startswith("break") else "frame"
            reports.append((kind, "" if kind == "break" else m[1].strip(), m[2],
                            m[3].split("; ") if m[3] else []))
        elif line.startswith("panelsim: "):
            summary = [int(n) for n in re.findall(r"\d+", line)]
    return reports, summary

def json_reports(out):
    reports, summary = [], None
    for line in out.splitlines():
        obj = json.loads(line)
        if obj["type"] == "summary":
            summary = [obj["frames"], obj["flagged"]]
            continue
        assert obj["type"] in ("frame", "break"), obj
        datetime.datetime.fromisoformat(obj["time"])
        assert isinstance(obj["t_ns"], int) and obj["t_ns"] >= 0, obj
        assert obj["clean"] == (not obj["flags"]), obj
        for flag in obj["flags"]:
            assert flag["code"] in CODES, flag
        reports.append((obj["type"], obj["bytes"], obj["settings"],
                        [flag["text"] for flag in obj["flags"]]))
    return reports, summary

def main(panelsim, sender, link):
    failed = 0
    for name, steps in runs(sender, link).items():
        text = subprocess.run([panelsim, "-l", link, "--"] + steps, capture_output=True, text=True)
        js = subprocess.run([panelsim, "-l", link, "--json", "--"] + steps, capture_output=True,
                            text=True)
        try:
            want, got = text_reports(text.stdout), json_reports(js.stdout)
            assert want[0], "no text reports"
            assert want == got, f"text says {want}\njson says {got}"
            frames = [r for r in got[0] if r[0] == "frame"]
            counted = [len(frames), len([r for r in frames if r[3]])]
            assert got[1] == counted, f"summary {got[1]}, frame reports and flagged {counted}"
            assert text.returncode == js.returncode, (text.returncode, js.returncode)
            print(f"ok {name}: {len(got[0])} reports")
        except (AssertionError, ValueError, KeyError) as e:
            failed += 1
            print(f"FAIL {name}: {e}\n{js.stdout}{js.stderr}")
    print(f"{len(runs(sender, link)) - failed} passed, {failed} failed")
    return 1 if failed else 0

if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
