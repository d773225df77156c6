// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// listening: the panel on a real line. A serial port wired to the device's
// line (an adapter's receive pin and ground on the controller's) delivers
// what its receiver took; the panel cuts it into frames and judges them as
// a controller at 19200 8N1 would, with the same words, codes, JSON and
// dump as on its own line.
//
// Principles:
//  - The port's receiver is the controller's: a frame it took whole, in
//    time and without an error is clean, whatever the sender was set to,
//    which the listener cannot know. Its reports name the receiver's
//    settings, 19200 8N1 raw, as what they were judged by.
//  - It runs until interrupted (SIGINT, SIGTERM, SIGHUP), or until the port
//    goes away (an adapter unplugged): the reports so far stand, and the
//    summary ends the run. Whatever the way it ends, the port is put back as
//    it was found.
//
// listen_on  listens on the port the options name; the exit status
#ifndef LISTENING_H
#define LISTENING_H

#include "options.h"

// 0, or 1 when a frame was flagged; 2 where the port cannot be listened on
// or went away; 128 and a signal where a reader of the reports went away.
[[nodiscard]] int listen_on(const options &o);

#endif
