#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
"""Writes the fuzz targets' seed corpus: a few inputs per target, in the
layouts the targets read (see each fuzz_*.cpp), from the kernel's records on
this machine (x86-64, Linux) and the demo's frames.

usage: make_seeds.py CORPUS_DIR

Seeds from findings (crash-*) are kept by hand beside these: this script
only writes its own names."""
import os
import struct
import sys

CS8, CS7, PARENB, PARODD, CSTOPB, BOTHER = 0o60, 0o40, 0o400, 0o1000, 0o100, 0o10000
B19200, B9600, B0 = 0o16, 0o15, 0
OPOST, ONLCR = 1, 4


def termios(iflag, oflag, cflag, lflag, speeds=None):
    rec = struct.pack("<4IB19s", iflag, oflag, cflag, lflag, 0, b"\x03\x1c\x7f\x15\x04\x00\x01\x00\x11\x13")
    return rec + (struct.pack("<2I", *speeds) if speeds else b"")


def termio(iflag, oflag, cflag, lflag):
    return struct.pack("<4HB8sx", iflag, oflag, cflag, lflag, 0, b"\x03\x1c\x7f\x15\x04\x00\x01\x00")


def settings():
    raw = CS8 | B19200
    yield "termios_raw", b"\0" + termios(0, 0, raw, 0)
    yield "termios_7e1", b"\0" + termios(0, OPOST | ONLCR, CS7 | PARENB | B9600, 0)
    yield "termios_b0", b"\0" + termios(0, 0, CS8 | CSTOPB | B0, 0)
    yield "termios2_bother", b"\1" + termios(0, 0, CS8 | BOTHER, 0, (250000, 250000))
    yield "termios2_split", b"\1" + termios(0, 0, CS8 | PARENB | PARODD | BOTHER, 0, (19200, 9600))
    yield "termio_raw", b"\2" + termio(0, 0, raw, 0)
    yield "termio_7o2", b"\2" + termio(0, 0, CS7 | PARENB | PARODD | CSTOPB | B9600, 0)


def iovec():
    addr = 0x7F0000001000
    yield "x86_64", b"\0\0\x00\x01" + struct.pack("<4Q", addr, 8, addr + 8, 4)
    yield "i386_be", b"\1\1\xff\xff" + struct.pack(">4I", 0x08048000, 8, 0x08048010, 0)
    yield "negative", b"\0\0\x00\x10" + struct.pack("<2Q", addr, 2**64 - 1)


def select():
    yield "timespec", b"\0\0\x08\x00\x05\x00" + struct.pack("<2q", 1, 500_000_000)
    yield "timeval_over", b"\0\2\x40\x00\x3f\x00" + struct.pack("<2q", 0, 2_500_000)
    yield "i386_timeval", b"\1\2\x21\x00\x20\x00" + struct.pack("<2i", 3, 999_999)
    yield "big_endian", b"\2\1\x00\x04\xff\x03" + struct.pack(">2q", 2**62, 0)


def call():
    # Call 0 is ioctl, then FLOW_CALLS in abi.cpp's order; arguments 0 and 1
    # the line and an address in the memory.
    def notif(call_index, kinds, port, args, memory=b""):
        return bytes([0, call_index]) + struct.pack("<HB6Q", kinds, port, *args) + memory
    rec = termios(0, 0, CS7 | PARENB | B9600, 0)
    for i in range(1, 21):
        yield f"call{i:02}_line", notif(i, 0b0110, 0, [0, 0, 8, 0, 0, 0], b"\x45\x01\x01\x01\x01\x01\x00\x00")
    yield "ioctl_set", notif(0, 0b011110, 0, [0, 3, 0, 0, 0, 0], rec)
    # Waits on the line for room: the target's line is descriptor 4 (its
    # first descriptors after the standard three and the master).
    pollfd = struct.pack("<ihh", 4, 4, 0)  # POLLOUT
    yield "poll_line", notif(14, 0b000001, 0, [0, 1, 100, 0, 0, 0], pollfd)
    yield "ppoll_line", notif(15, 0b00010001, 0, [0, 1, 8, 0, 8, 0], pollfd + struct.pack("<2q", 1, 0))
    fdset = struct.pack("<Q", 1 << 4)
    yield "select_line", notif(17, 0b0100010000, 0, [5, 0, 0, 0, 8, 0], fdset + struct.pack("<2q", 0, 250000))
    yield "pselect6_line", notif(19, 0b010100010000, 0, [5, 0, 0, 0, 8, 24],
                                 fdset + struct.pack("<2q", 0, 5000) + struct.pack("<2Q", 0, 8))
    yield "ioctl_any", notif(0, 0b111110, 0, [0, 7, 0, 0, 0, 0], rec)


def line_ops():
    frame = b"\x45\x01\x01\x01\x01\x01\x00\x00"
    write = lambda data: bytes([((len(data) - 1) << 4) | 0, 0x01]) + data
    wait = bytes([8, 0x4A])  # 100 ms
    demo = write(frame) + wait + write(frame) + wait + write(b"\x0a\x0d\x11\x13\x00\x00\x00\x00") + wait
    yield "demo", b"\xff\0" + demo
    yield "demo_at_arrival", b"\xff\1" + demo
    yield "settings_7e1", b"\xff\0" + bytes([0x11, 0]) + write(frame) + wait
    yield "break_mid_frame", b"\xff\0" + write(frame[:4]) + bytes([0x06 | 0x30, 0x01]) + write(frame[4:]) + wait
    yield "flow_flush", b"\0\0" + bytes([3, 0]) + write(frame) + bytes([5, 1, 2, 1, 4, 1]) + write(frame) + wait


def options():
    yield "help", b"-h\0"
    yield "all", b"-l\0/tmp/x\0-a\0-b\0" + b"65536\0-j\0-v\0d.vcd\0--\0sh\0"
    yield "ttys1", b"--dev-ttyS1\0--buffer=15\0"
    yield "bad", b"-x\0"


def hexstr():
    for name, text in [("plain", b"45"), ("prefix", b"0x45"), ("wrap", b"123456789abcdefXY"), ("high", b"\xff9A")]:
        yield name, text


def marks():
    """The receiver's marked stream: byte 0 where it is split, then the stream."""
    yield "frame", bytes([3, 0x45, 1, 1, 1, 1, 1, 0, 0])
    yield "ff_doubled", bytes([1, 0xff, 0xff, 0x45])
    yield "break_split", bytes([2, 0x45, 0xff, 0x00, 0x00])
    yield "framing_error", bytes([0, 0xff, 0x00, 0xf0, 0x01])
    yield "lone_escape", bytes([1, 0xff, 0x45, 0xff])


TARGETS = {"settings": settings, "iovec": iovec, "select": select, "call": call,
           "line": line_ops, "writers": line_ops, "options": options, "hexstr2int": hexstr,
           "marks": marks}


def main():
    root = sys.argv[1]
    for target, seeds in TARGETS.items():
        os.makedirs(os.path.join(root, target), exist_ok=True)
        for name, data in seeds():
            with open(os.path.join(root, target, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
