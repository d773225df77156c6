// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// ending: how a run of the panel, on its own line or listening on a real
// one, takes the signals that end it and a reader of its reports that goes
// away, and how it ends by a signal.
//
// Principles:
//  - Signals come as data, read in the loop from a signalfd, never in a
//    handler; the programs the panel starts get the usual handling back.
//  - A reader that went away ends the run as it ends a shell's pipeline: by
//    SIGPIPE, whether the panel heard it from a write (EPIPE) or saw it
//    first on a pipe or socket whose other end closed (POLLERR).
//  - Ended by a signal, the panel ends by that same signal, its output
//    flushed first, so that its caller sees what a shell expects.
//
// signals_as_data  the ending signals (and SIGCHLD, if asked), read from a descriptor
// piped_out        whether standard output is a pipe or socket, whose reader may go away
// reader_gone      whether poll saw that reader go away, before anything was written
// end_by           ends the process by a signal
#ifndef ENDING_H
#define ENDING_H

#include <poll.h>

// SIGINT, SIGTERM, SIGHUP and SIGPIPE, and SIGCHLD where children is true:
// the signalfd they are read from.
[[nodiscard]] int signals_as_data(bool children);
[[nodiscard]] bool piped_out();
// out: standard output's entry, polled with no events.
[[nodiscard]] inline bool reader_gone(const pollfd &out)
{
    return (out.revents & POLLERR) != 0;
}
// Returns 128 + sig only should the signal not end the process.
int end_by(int sig);

#endif
