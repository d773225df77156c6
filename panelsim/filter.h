// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// filter: the seccomp filter that the commands the panel starts run under.
//
// A Linux pseudo-terminal keeps no character size or parity of its own, nor
// makes anyone wait for the bytes to leave. So the commands run under a
// filter that hands the panel, before the kernel carries them out, every
// call that may concern the line: the terminal requests the panel watches
// (setting, draining, flushing, breaks, tcflow, the output queue's length)
// and, when the panel models the UART's flow, every write, poll and select,
// open, close and exec. The panel then decides when each goes on, or answers
// it itself. Opens are handed over in every case: the panel counts who holds
// the line. The filter is assembled here, a block for each ABI of the
// processor family (abi.h) with the calls' numbers in libseccomp's tables,
// in microseconds and without a file; a program of any other ABI has all
// its calls handed over, and the panel says it cannot read them.
// Once the panel has taken a call, only a fatal signal ends the caller's
// wait, as in the kernel's own uninterruptible waits on a UART's buffer.
//
// watch_install  in the started child, before exec: the listener fd, or -1
#ifndef FILTER_H
#define FILTER_H

#include <string>

// flow: also writes, polls, closes and execs, for a UART in time.
[[nodiscard]] int watch_install(bool flow, std::string &why);

#endif
