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
// it itself. The filter is built with libseccomp for every ABI of the
// processor family that the running kernel may offer (i386 and x32 beside
// x86_64, arm beside arm64, the three MIPS ABIs); a program of any other ABI
// has all its calls handed over, and the panel says it cannot read them.
// Once the panel has taken a call, only a fatal signal ends the caller's
// wait, as in the kernel's own uninterruptible waits on a UART's buffer.
//
// watch_install  in the started child, before exec: the listener fd, or -1
// known_abi      whether the filter knows a program's ABI
// classify       what a handed-over call is, and how its ABI lays out memory
// abi_word       a word of an ABI's size read out of a program, zero-extended
// abi_signed     the same, sign-extended
// put_abi_word   a word of an ABI's size to write into a program
#ifndef FILTER_H
#define FILTER_H

#include <cstdint>
#include <optional>
#include <string>

enum class watched_call {
    ioctl,
    write,
    writev,
    close,
    close_range,
    dup2,
    dup3,
    exit_group,
    execve,
    execveat,
    open,
    openat,
    openat2,
    creat,
    poll,
    ppoll,
    select,
    pselect6,
};

// One handed-over call, and the sizes its ABI gives what it points to.
struct call_abi {
    watched_call call;
    unsigned pointer_bytes; // an address in an iovec
    unsigned long_bytes;    // a word of select's descriptor sets
    unsigned time_bytes;    // each field of the call's time value
};

// flow: also writes, polls, opens, closes and execs, for a UART in time.
[[nodiscard]] int watch_install(bool flow, std::string &why);

// Whether programs of ABI arch (an audit arch) are watched.
[[nodiscard]] bool known_abi(std::uint32_t arch);

// The call a program of ABI arch made with number nr; none for a call that
// is not watched.
[[nodiscard]] std::optional<call_abi> classify(std::uint32_t arch, int nr);

// Words of 4 or 8 bytes at p, in this processor's byte order, which every
// ABI of the family shares.
[[nodiscard]] std::uint64_t abi_word(const unsigned char *p, unsigned bytes);
[[nodiscard]] long long abi_signed(const unsigned char *p, unsigned bytes);
void put_abi_word(unsigned char *p, unsigned bytes, long long value);

#endif
