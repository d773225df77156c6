#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""The panel's verdicts, judged from its reports as JSON Lines
(panelsim --json): prints a line for each report, then checks what it is
asked to, and exits 1, naming what differs, when a check fails or the
stream is not the panel's (no summary at its end, or one that does not
count its frame reports).

usage: verdicts.py [--name NAME] [--clean N] [--summary FRAMES FLAGGED]
                   [--has-frame HEX] [--bytes] [FILE]

  --clean N         exactly N frames, each clean at 19200 8N1 raw, and
                    nothing flagged
  --summary F M     the summary counts F frames, M of them flagged
  --has-frame HEX   a frame of these bytes ("45 01 01 01 01 01 00 00")
  --bytes           print only the frames' bytes, a frame a line
FILE defaults to standard input.
"""
import argparse
import json
import sys

SETTINGS = "19200 8N1 raw"


def read(stream):
    """The reports and the summary of one run; raises ValueError when the
    stream is not a whole run of the panel."""
    reports, summary = [], None
    for line in stream:
        if not line.strip():
            continue
        obj = json.loads(line)
        if summary is not None:
            raise ValueError("a report after the summary")
        if obj["type"] == "summary":
            summary = (obj["frames"], obj["flagged"])
        elif obj["type"] in ("frame", "break"):
            reports.append(obj)
        else:
            raise ValueError(f"unknown report type {obj['type']!r}")
    if summary is None:
        raise ValueError("no summary: the run did not end")
    frames = [r for r in reports if r["type"] == "frame"]
    counted = (len(frames), len([r for r in frames if not r["clean"]]))
    if summary != counted:
        raise ValueError(f"the summary counts {summary}, the frame reports are {counted}")
    return reports, summary


def shown(report):
    what = report["bytes"] if report["type"] == "frame" else "break"
    flags = ", ".join(flag["code"] for flag in report["flags"])
    return f"{what}  {report['settings']}" + (f"  !! {flags}" if flags else "")


def failures(args, reports, summary):
    frames = [r for r in reports if r["type"] == "frame"]
    if args.clean is not None:
        clean = [r for r in frames if r["clean"] and r["settings"] == SETTINGS]
        if len(clean) != args.clean or summary != (args.clean, 0):
            yield (f"want {args.clean} clean frames at {SETTINGS} and nothing flagged; "
                   f"got {len(clean)} of {summary[0]} frames, {summary[1]} flagged")
    if args.summary is not None and summary != tuple(args.summary):
        yield f"want {args.summary[0]} frames, {args.summary[1]} flagged; got {summary[0]}, {summary[1]}"
    if args.has_frame is not None and args.has_frame not in [r["bytes"] for r in frames]:
        yield f"no frame {args.has_frame}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--name", default="panel")
    parser.add_argument("--clean", type=int)
    parser.add_argument("--summary", type=int, nargs=2)
    parser.add_argument("--has-frame")
    parser.add_argument("--bytes", action="store_true")
    parser.add_argument("file", nargs="?", type=argparse.FileType("r"), default=sys.stdin)
    args = parser.parse_args()
    try:
        reports, summary = read(args.file)
    except (ValueError, KeyError, TypeError) as e:
        print(f"{args.name}: not the panel's reports: {e}", file=sys.stderr)
        return 1
    for report in reports:
        if args.bytes:
            if report["type"] == "frame":
                print(report["bytes"])
        else:
            print(f"{args.name}: {shown(report)}")
    failed = list(failures(args, reports, summary))
    for failure in failed:
        print(f"{args.name}: {failure}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
