# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Runs one command and appends to RESULTS a JSON line with its own processor
time and peak resident memory, apart from the processes it starts, and the
wall time of the run.

usage: measure.py RESULTS [KEY=VALUE...] -- COMMAND [ARGS...]

The panel reaps the programs it runs, so its rusage (what GNU time and
getrusage of the child report) counts theirs too: the sender's time, and its
memory where that is larger. The panel's own figures are read from /proc
instead. Its high-water mark of resident memory (VmHWM), which only grows, is
sampled every 10 ms while it runs; its user and system time are
read once it has ended and before it is reaped, while /proc still has them.
The KEY=VALUE pairs are copied into the line, to say which case it was.
"""
import json
import os
import subprocess
import sys
import time

SAMPLE_S = 0.01
TICK = os.sysconf("SC_CLK_TCK")


def high_water_kib(status_fd):
    """The peak resident memory so far, in KiB, of the process whose /proc
    status is open at status_fd; 0 once it has ended."""
    try:
        text = os.pread(status_fd, 4096, 0)
    except OSError:
        return 0
    at = text.find(b"\nVmHWM:")
    return int(text[at:].split()[1]) if at >= 0 else 0


def times(pid):
    """User and system time of the process itself, and of the children it has reaped, in s."""
    with open(f"/proc/{pid}/stat") as f:
        # The fields after the command's name, which may hold spaces: state is field 3.
        fields = f.read().rsplit(")", 1)[1].split()
    utime, stime, cutime, cstime = (int(v) / TICK for v in fields[11:15])
    return utime, stime, cutime + cstime


def measure(argv):
    start = time.monotonic()
    child = subprocess.Popen(argv)
    status_fd = os.open(f"/proc/{child.pid}/status", os.O_RDONLY)
    peak = 0
    # WNOWAIT leaves it a zombie, whose times /proc still shows.
    while os.waitid(os.P_PID, child.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
        peak = max(peak, high_water_kib(status_fd))
        time.sleep(SAMPLE_S)
    wall = time.monotonic() - start
    os.close(status_fd)
    user, system, children = times(child.pid)
    status = child.wait()
    return {"wall_s": wall, "user_s": user, "sys_s": system, "children_s": children,
            "peak_kib": peak, "status": status}


def main():
    args = sys.argv[1:]
    if "--" not in args or args.index("--") < 1 or args[-1] == "--":
        sys.exit(__doc__.split("\n\n")[1])
    sep = args.index("--")
    tags = dict(kv.split("=", 1) for kv in args[1:sep])
    result = {**tags, **measure(args[sep + 1:])}
    with open(args[0], "a") as f:
        f.write(json.dumps(result) + "\n")


if __name__ == "__main__":
    main()
