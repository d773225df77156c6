// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panel_link: the serial link to the VFD controller.
//
// The display controller sits on one fixed serial port and takes commands as
// frames of exactly PANEL_FRAME_LEN raw bytes: byte 0 the command code, bytes
// 1 to 7 its data. A frame has no header, length, checksum or terminator.
//
// Principles:
//  - One run, one frame: panel_open, then one panel_send, then panel_close.
//  - The line settings are built from nothing on every open (19200 baud,
//    8N1, raw, no flow control), so whatever an earlier user left on the port
//    is replaced. They are named only through their POSIX symbols, whose
//    values differ between processor architectures.
//  - A frame leaves whole and unaltered, or not at all: the port is
//    non-blocking, and the frame is offered in one write only once poll
//    reports that the port can take output, so no other program's bytes can
//    get in between its bytes. A busy port is waited for as long as it moves
//    (what it holds queued, TIOCOUTQ, changes); one that stands still for
//    PANEL_SEND_TIMEOUT_MS ends the run. A run that gives up has put nothing
//    in the port and discards nothing: other programs' queued bytes leave
//    when the line moves. Only when a write is short (another writer filled
//    the port between the poll and the write) is the port's output
//    discarded, as the lesser harm to a torn frame, and the report says so.
//  - The port never takes descriptor 0, 1 or 2, even when the caller was
//    started with them closed: what is meant for them never reaches the line.
//  - The port is opened with O_NOCTTY and never becomes the caller's
//    controlling terminal, so a run that leads a session without one cannot
//    hang the port up under another program at its exit.
//  - No error values travel back to the caller. A failure to open, set up or
//    write the port is reported on standard error in perror's form, after
//    standard output has been flushed so that one stream taking both keeps
//    the order, and ends the process with status 1. The report comes before
//    the close, which on a serial driver may wait for queued output. The
//    only result handed back is that of close.
//  - No locks, no reads from the line, no heap, no state between calls.
//
// panel_open   open PANEL_DEVICE and apply the line settings; returns the fd
// panel_send   hand one frame to the port whole, waiting while it moves
// panel_close  close the port; returns close's result, the exit status
#ifndef PANEL_LINK_H
#define PANEL_LINK_H

#include <array>
#include <cstddef>
#include <cstdint>

// The device is fixed in the programs. Only a host build for tests and the
// virtual panel compiles its own copies against another path.
#ifndef PANEL_DEVICE_PATH
#define PANEL_DEVICE_PATH "/dev/ttyS1"
#endif

inline constexpr const char *PANEL_DEVICE = PANEL_DEVICE_PATH;
inline constexpr std::size_t PANEL_FRAME_LEN = 8;

// How long a port may go without progress (sending, or taking bytes) before
// the send gives up. A busy port that still drains is waited for however
// long it holds output: a 64 KiB UART buffer takes 34 s at 19200 baud.
inline constexpr int PANEL_SEND_TIMEOUT_MS = 5000;

// One command frame, sent as it stands in index order. Value-initialise it
// ({}) so that every byte a program does not set is 0.
using panel_frame = std::array<std::uint8_t, PANEL_FRAME_LEN>;

[[nodiscard]] int panel_open();
void panel_send(int fd, const panel_frame &frame);
[[nodiscard]] int panel_close(int fd);

#endif
