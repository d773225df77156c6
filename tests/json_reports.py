#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""panelsim --json, read by a real JSON parser: every line of the same runs
as the text reports says the same frames, bytes, settings and verdicts, in
every object valid by the schema that ships with the panel, whose flag codes
are the ones panelsim(1) lists; the summary counts the frame reports and those
of them that are flagged. The listener on a pseudo-terminal is read the same.

usage: json_reports.py PANELSIM SENDER LINK SCHEMA MANUAL
"""
import json
import os
import re
import select
import signal
import subprocess
import sys
import time

try:
    import jsonschema
except ImportError:  # python3-jsonschema: without it the rest is still read
    jsonschema = None

SKIPPED = 77

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

def json_reports(out, schema):
    reports, summary = [], None
    for line in out.splitlines():
        obj = json.loads(line)
        errors = [e.message for e in schema.iter_errors(obj)] if schema else []
        assert not errors, f"{line}: {errors}"
        if obj["type"] == "summary":
            summary = [obj["frames"], obj["flagged"]]
            continue
        reports.append((obj["type"], obj["bytes"], obj["settings"],
                        [flag["text"] for flag in obj["flags"]]))
    return reports, summary

def listened(panelsim, json_out):
    """panelsim --listen on a pseudo-terminal's far end, the device's line
    written at its near end: a whole frame, then three bytes, each followed
    by three times the gap that ends a frame; then SIGINT."""
    master, slave = os.openpty()
    name = os.ttyname(slave)
    os.close(slave)
    args = [panelsim, "--listen", name] + (["--json"] if json_out else [])
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    heard = b""
    while b"listening on" not in heard:
        ready, _, _ = select.select([p.stderr], [], [], 30)
        read = os.read(p.stderr.fileno(), 4096) if ready else b""
        if not read:
            break
        heard += read
    for chunk in (bytes.fromhex(FRAME), bytes.fromhex("450101")):
        os.write(master, chunk)
        time.sleep(0.3)
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=30)
    os.close(master)
    return subprocess.CompletedProcess(args, p.returncode, out.decode(), (heard + err).decode())

def codes_in_manual(manual):
    """The codes panelsim(1) lists in its table of flags."""
    text = open(manual, encoding="utf-8").read()
    table = text[text.index(".Bl -tag -width settings_unknown"):]
    return re.findall(r"^\.It Cm (\S+)$", table[:table.index(".El")], re.M)

def main(panelsim, sender, link, schema_path, manual):
    with open(schema_path, encoding="utf-8") as f:
        schema_doc = json.load(f)
    schema = None
    if jsonschema:
        jsonschema.Draft202012Validator.check_schema(schema_doc)
        schema = jsonschema.Draft202012Validator(schema_doc)
    codes = schema_doc["$defs"]["code"]["enum"]
    failed = 0
    if codes_in_manual(manual) != codes:
        failed += 1
        print(f"FAIL codes: panelsim(1) lists {codes_in_manual(manual)}, the schema {codes}")
    cases = {name: (lambda j, steps=steps: subprocess.run(
        [panelsim, "-l", link] + (["--json"] if j else []) + ["--"] + steps,
        capture_output=True, text=True)) for name, steps in runs(sender, link).items()}
    cases["listen"] = lambda j: listened(panelsim, j)
    for name, run in cases.items():
        text, js = run(False), run(True)
        try:
            want, got = text_reports(text.stdout), json_reports(js.stdout, schema)
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
    print(f"{len(cases) + 1 - failed} passed, {failed} failed")
    if not schema and not failed:
        print("skipped: the objects were not checked by the schema (no python3-jsonschema)")
        return SKIPPED
    return 1 if failed else 0

if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
