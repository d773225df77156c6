// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// abi: the system-call ABIs of the processor family, and how each lays out
// in memory what a watched call points to.
//
// Principles:
//  - A handed-over call is known by its ABI (the audit arch the kernel
//    gives) and its number there; every ABI of the family that the running
//    kernel may offer is known (i386 and x32 beside x86_64, arm beside
//    arm64, the three MIPS ABIs). Numbers are resolved by libseccomp: a
//    panel built without it knows no call.
//  - What a call points to is read as plain bytes and decoded here, in the
//    ABI's word sizes and byte order, the way the kernel decodes it: iovec
//    arrays, select's descriptor sets, time values. Nothing here reads a
//    program's memory, so each decoder can be tried on any bytes.
//
// FAMILY_ABIS    the ABIs of the family this panel is built for
// FLOW_CALLS     the calls that move bytes, open or close the line, by their
//                names in the kernel's tables
// known_abi      whether programs of an ABI are watched
// classify       what a handed-over call is, and how its ABI lays out memory
// abi_word       a word of an ABI out of bytes, zero-extended; abi_signed: sign-extended
// put_abi_word   a word of an ABI into bytes
// user_range     whether a buffer may be user memory, as the kernel first checks
// io_vectors     a writev's buffers from its iovec array, as the kernel takes them
// fd_set_*       select's descriptor sets: their size, a descriptor's bit
// read_interval  a time limit as the kernel reads it; write_interval: the time left
#ifndef ABI_H
#define ABI_H

#include "clock.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class watched_call {
    ioctl,
    write,
    writev,
    close,
    close_range,
    dup2,
    dup3,
    exit_group,
    exit,
    fcntl,          // F_SETFL alone: a descriptor's flags change
    io_uring_setup, // descriptors may open and close unseen from then on
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

enum class byte_order { little, big };
inline constexpr byte_order HOST_ORDER =
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? byte_order::big : byte_order::little;

// One handed-over call, and the sizes its ABI gives what it points to.
struct call_abi {
    watched_call call = watched_call::ioctl;
    unsigned pointer_bytes = sizeof(void *); // an address or a length in an iovec
    unsigned long_bytes = sizeof(long);      // a word of select's descriptor sets
    unsigned time_bytes = sizeof(long);      // each field of the call's time value
    byte_order order = HOST_ORDER;           // every ABI of a family shares the processor's
};

// An ABI of the family: its audit arch (0: the processor's own, whatever it
// is) and the sizes it gives what calls point to.
struct family_abi {
    std::uint32_t arch;
    unsigned pointer_bytes;
    unsigned long_bytes;
    unsigned time_bytes;
};
extern const std::span<const family_abi> FAMILY_ABIS;

struct named_call {
    const char *name;
    watched_call call;
    bool time64;         // the 64-bit time form of a 32-bit ABI
    bool always = false; // watched where the flow is not: opens, counted as the line's openers
    long arg1 = -1;      // handed over only where its second argument is this one
};
extern const std::span<const named_call> FLOW_CALLS;

[[nodiscard]] bool known_abi(std::uint32_t arch);
// None for a call that is not watched.
[[nodiscard]] std::optional<call_abi> classify(std::uint32_t arch, int nr);

[[nodiscard]] std::uint64_t abi_word(const unsigned char *p, unsigned bytes,
                                     byte_order order = HOST_ORDER);
[[nodiscard]] long long abi_signed(const unsigned char *p, unsigned bytes,
                                   byte_order order = HOST_ORDER);
void put_abi_word(unsigned char *p, unsigned bytes, long long value, byte_order order = HOST_ORDER);

[[nodiscard]] bool user_range(std::uint64_t addr, std::uint64_t size, const call_abi &abi);

// A stretch of a program's memory.
struct segment {
    std::uint64_t addr = 0;
    std::size_t size = 0;
};

// The most writev takes in one call (IOV_MAX).
inline constexpr std::size_t IOV_LIMIT = 1024;

// The buffers an iovec array (bytes, each an address and a length an ABI
// pointer wide) gives a writev, their total cut to most bytes. Empty where
// the kernel refuses the call (a length below 0, a buffer out of reach).
[[nodiscard]] std::vector<segment> io_vectors(std::span<const unsigned char> bytes,
                                              const call_abi &abi, std::size_t most);

// How many bytes select's sets of n descriptors take, in words of `word` bytes.
[[nodiscard]] std::size_t fd_set_bytes(std::size_t n, unsigned word);
// Descriptor fd's bit in such a set: the byte it is in, and its mask.
struct fd_bit {
    std::size_t byte;
    unsigned char mask;
};
[[nodiscard]] fd_bit fd_set_bit(int fd, unsigned word, byte_order order = HOST_ORDER);

// How a call gives its time limit: ppoll's and pselect6's timespec, or
// select's timeval, whose microseconds may run over a second.
enum class interval_form { timespec, timeval };
// The interval the bytes (two fields of abi.time_bytes) ask for, or none
// where the kernel refuses it (EINVAL: below 0, or a part of a second out
// of range).
[[nodiscard]] std::optional<nanos> read_interval(std::span<const unsigned char> bytes,
                                                 interval_form form, const call_abi &abi);
// The time left, written back where the limit was; returns the bytes used.
std::size_t write_interval(std::span<unsigned char> bytes, nanos left, interval_form form,
                           const call_abi &abi);

#endif
