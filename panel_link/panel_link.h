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
//    non-blocking, so the write goes on after short writes and interruptions
//    and waits, for a bounded time, while the port is busy; when it gives up,
//    what the port still holds is discarded before the close.
//  - The port never takes descriptor 0, 1 or 2, even when the caller was
//    started with them closed: what is meant for them never reaches the line.
//  - The port is opened with O_NOCTTY and never becomes the caller's
//    controlling terminal, so a run that leads a session without one cannot
//    hang the port up under another program at its exit.
//  - No error values travel back to the caller. A failure to open, set up or
//    write the port is reported with perror, after standard output has been
//    flushed so that one stream taking both keeps the order, and ends the
//    process with status 1; the only result handed back is that of close.
//  - No locks, no reads from the line, no heap, no state between calls.
//
// panel_open   open PANEL_DEVICE and apply the line settings; returns the fd
// panel_send   hand all bytes of one frame to the port
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

// How long a busy port may hold up the frame, in all. A full 4 KiB UART
// buffer drains in about 2 s at 19200 baud.
inline constexpr int PANEL_SEND_TIMEOUT_MS = 5000;

// One command frame, sent as it stands in index order. Value-initialise it
// ({}) so that every byte a program does not set is 0.
using panel_frame = std::array<std::uint8_t, PANEL_FRAME_LEN>;

[[nodiscard]] int panel_open();
void panel_send(int fd, const panel_frame &frame);
[[nodiscard]] int panel_close(int fd);

#endif
