// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// serial_abi: the serial driver's records, as a program of each ABI lays
// them out.
//
// Principles:
//  - struct serial_struct (TIOCGSERIAL, TIOCSSERIAL) holds a pointer and an
//    unsigned long: a 64-bit program's record is 72 bytes, a 32-bit one's
//    (the kernel's compat_serial_struct, and a 32-bit kernel's own) 60, with
//    its memory base a 32-bit word and no ioremap cookie. The layout follows
//    the caller's pointer size and byte order, as abi.h's decoders do.
//  - struct serial_icounter_struct (TIOCGICOUNT) is ints alone: the same in
//    every ABI but for the byte order.
//  - Nothing here reads or writes a program's memory: each layout can be
//    tried on any bytes.
//
// serial_record          what a serial_struct says, in any layout
// serial_record_size     the bytes a serial_struct takes in a layout
// put_serial_record      a serial_struct into bytes
// get_serial_record      a serial_struct out of bytes
// line_counts            what a serial_icounter_struct says
// put_line_counts        a serial_icounter_struct into bytes (COUNTS_RECORD_SIZE of them)
#ifndef SERIAL_ABI_H
#define SERIAL_ABI_H

#include "abi.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The fields of struct serial_struct (<linux/serial.h>) the driver reads
// or fills, whatever the layout; the unused closing_wait2 and reserved
// fields are written as 0.
struct serial_record {
    int type = 0;
    int line = 0;
    unsigned port = 0;
    int irq = 0;
    int flags = 0;
    int xmit_fifo_size = 0;
    int custom_divisor = 0;
    int baud_base = 0;
    unsigned close_delay = 0; // hundredths of a second
    int io_type = 0;
    int hub6 = 0;
    unsigned closing_wait = 0; // hundredths of a second, or ASYNC_CLOSING_WAIT_*
    std::uint64_t iomem_base = 0;
    unsigned iomem_reg_shift = 0;
    unsigned port_high = 0;
    std::uint64_t iomap_base = 0; // 64-bit layout only

    bool operator==(const serial_record &) const = default;
};

// How a caller lays out its records: its pointer size (4 or 8) and byte order.
struct record_layout {
    unsigned pointer_bytes = sizeof(void *);
    byte_order order = HOST_ORDER;
};

[[nodiscard]] std::size_t serial_record_size(const record_layout &layout);
// bytes holds at least serial_record_size(layout).
void put_serial_record(const serial_record &r, std::span<unsigned char> bytes,
                       const record_layout &layout);
[[nodiscard]] serial_record get_serial_record(std::span<const unsigned char> bytes,
                                              const record_layout &layout);

// Room for the largest serial_struct.
inline constexpr std::size_t LARGEST_SERIAL_RECORD = 72;

// The interrupt counters (struct serial_icounter_struct), in its order.
struct line_counts {
    int cts = 0;
    int dsr = 0;
    int rng = 0;
    int dcd = 0;
    int rx = 0;
    int tx = 0;
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int buf_overrun = 0;
};

// Eleven counters and nine reserved ints.
inline constexpr std::size_t COUNTS_RECORD_SIZE = std::size_t{20} * 4;

void put_line_counts(const line_counts &c, std::span<unsigned char> bytes,
                     byte_order order = HOST_ORDER);

#endif
