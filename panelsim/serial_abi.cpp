// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "serial_abi.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <linux/serial.h>

namespace
{

// Where each field lies in one layout: the 32-bit layouts differ from the
// 64-bit one only from the memory base on.
struct serial_offsets {
    std::size_t iomem_base;
    std::size_t iomem_reg_shift;
    std::size_t port_high;
    std::size_t iomap_base; // the compat layout's reserved int
    std::size_t size;
};

constexpr serial_offsets WIDE = {48, 56, 60, 64, 72};
constexpr serial_offsets NARROW = {44, 48, 52, 56, 60};

constexpr const serial_offsets &offsets(const record_layout &layout)
{
    return layout.pointer_bytes == 8 ? WIDE : NARROW;
}

// The host's own layout is one of the two.
constexpr const serial_offsets &HOST = sizeof(void *) == 8 ? WIDE : NARROW;
static_assert(offsetof(serial_struct, close_delay) == 32 && offsetof(serial_struct, io_type) == 34);
static_assert(offsetof(serial_struct, hub6) == 36 && offsetof(serial_struct, closing_wait) == 40);
static_assert(offsetof(serial_struct, iomem_base) == HOST.iomem_base);
static_assert(offsetof(serial_struct, iomem_reg_shift) == HOST.iomem_reg_shift);
static_assert(offsetof(serial_struct, port_high) == HOST.port_high);
static_assert(offsetof(serial_struct, iomap_base) == HOST.iomap_base);
static_assert(sizeof(serial_struct) == HOST.size && HOST.size <= LARGEST_SERIAL_RECORD);

// The signed ints the two layouts share, and where they lie; the port
// number (unsigned) lies at 8.
struct int_field {
    std::size_t at;
    int serial_record::*field;
};
constexpr int_field INTS[] = {
    {0, &serial_record::type},
    {4, &serial_record::line},
    {12, &serial_record::irq},
    {16, &serial_record::flags},
    {20, &serial_record::xmit_fifo_size},
    {24, &serial_record::custom_divisor},
    {28, &serial_record::baud_base},
    {36, &serial_record::hub6},
};

} // namespace

std::size_t serial_record_size(const record_layout &layout)
{
    return offsets(layout).size;
}

void put_serial_record(const serial_record &r, std::span<unsigned char> bytes,
                       const record_layout &layout)
{
    const serial_offsets &at = offsets(layout);
    const byte_order o = layout.order;
    unsigned char *p = bytes.data();
    std::fill_n(p, at.size, 0);
    for (const int_field &f : INTS)
        put_abi_word(p + f.at, 4, r.*f.field, o);
    put_abi_word(p + 8, 4, r.port, o);
    put_abi_word(p + 32, 2, r.close_delay, o);
    p[34] = static_cast<unsigned char>(r.io_type);
    put_abi_word(p + 40, 2, r.closing_wait, o);
    put_abi_word(p + at.iomem_base, layout.pointer_bytes, static_cast<long long>(r.iomem_base), o);
    put_abi_word(p + at.iomem_reg_shift, 2, r.iomem_reg_shift, o);
    put_abi_word(p + at.port_high, 4, r.port_high, o);
    if (layout.pointer_bytes == 8)
        put_abi_word(p + at.iomap_base, 8, static_cast<long long>(r.iomap_base), o);
}

serial_record get_serial_record(std::span<const unsigned char> bytes, const record_layout &layout)
{
    const serial_offsets &at = offsets(layout);
    const byte_order o = layout.order;
    const unsigned char *p = bytes.data();
    serial_record r;
    for (const int_field &f : INTS)
        r.*f.field = static_cast<int>(abi_signed(p + f.at, 4, o));
    r.port = static_cast<unsigned>(abi_word(p + 8, 4, o));
    r.close_delay = static_cast<unsigned>(abi_word(p + 32, 2, o));
    r.io_type = p[34];
    r.closing_wait = static_cast<unsigned>(abi_word(p + 40, 2, o));
    r.iomem_base = abi_word(p + at.iomem_base, layout.pointer_bytes, o);
    r.iomem_reg_shift = static_cast<unsigned>(abi_word(p + at.iomem_reg_shift, 2, o));
    r.port_high = static_cast<unsigned>(abi_word(p + at.port_high, 4, o));
    if (layout.pointer_bytes == 8)
        r.iomap_base = abi_word(p + at.iomap_base, 8, o);
    return r;
}

void put_line_counts(const line_counts &c, std::span<unsigned char> bytes, byte_order order)
{
    const int fields[] = {c.cts,   c.dsr,     c.rng,    c.dcd, c.rx,         c.tx,
                          c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    std::fill_n(bytes.data(), COUNTS_RECORD_SIZE, 0);
    for (std::size_t i = 0; i < std::size(fields); i++)
        put_abi_word(bytes.data() + 4 * i, 4, fields[i], order);
}
