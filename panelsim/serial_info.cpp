// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "serial_info.h"

#include <cerrno>
#include <linux/serial.h>

namespace
{

// The 16550's clock over 16: the speed of a divisor of 1.
constexpr long UART_BASE = 115200;

// The flags an unprivileged caller may change: the serial core's user
// flags, which leave out the callout device's hangup flag of
// ASYNC_USR_MASK.
constexpr unsigned USER_FLAGS = ASYNC_SPD_MASK | ASYNC_LOW_LATENCY;
// The flags a privileged caller may change: those up to the magic
// multiplier, but the autoprobe mark.
constexpr unsigned CHANGEABLE_FLAGS = 0x17fff;

// What the serial core asks of the baud base.
constexpr int LEAST_BASE = 9600;

// The core's closing wait and close delay, in hundredths of a second.
constexpr unsigned CLOSING_WAIT = 3000;
constexpr unsigned CLOSE_DELAY = 50;

constexpr nanos NS_PER_HUNDREDTH = 10 * NS_PER_MS;

} // namespace

serial_port::serial_port()
{
    now_.type = PORT_16550A;
    now_.line = 1;
    now_.port = 0x2f8;
    now_.irq = 3;
    // As the 8250 driver sets up a PC's standard ports.
    now_.flags = static_cast<int>(ASYNC_BOOT_AUTOCONF | ASYNC_SKIP_TEST);
    now_.xmit_fifo_size = 16;
    now_.baud_base = UART_BASE;
    now_.close_delay = CLOSE_DELAY;
    now_.closing_wait = CLOSING_WAIT;
    now_.io_type = SERIAL_IO_PORT;
}

bool serial_port::moves_port(const serial_record &asked) const
{
    return asked.type != now_.type || asked.port != now_.port ||
           asked.port_high != now_.port_high || asked.irq != now_.irq ||
           asked.iomem_base != now_.iomem_base || asked.hub6 != now_.hub6 ||
           asked.io_type != now_.io_type || asked.iomem_reg_shift != now_.iomem_reg_shift;
}

serial_outcome serial_port::change(const serial_record &asked, bool privileged)
{
    const auto old_flags = static_cast<unsigned>(now_.flags);
    const auto new_flags = static_cast<unsigned>(asked.flags);
    const int old_divisor = now_.custom_divisor;
    if (!privileged) {
        if (moves_port(asked) || asked.baud_base != now_.baud_base ||
            asked.close_delay != now_.close_delay || asked.closing_wait != now_.closing_wait ||
            (asked.xmit_fifo_size != 0 && asked.xmit_fifo_size != now_.xmit_fifo_size) ||
            ((new_flags ^ old_flags) & ~USER_FLAGS) != 0)
            return {serial_outcome::refused, EPERM};
        now_.flags = static_cast<int>((old_flags & ~USER_FLAGS) | (new_flags & USER_FLAGS));
    } else {
        if (asked.irq < 0 || asked.baud_base < LEAST_BASE)
            return {serial_outcome::refused, EINVAL};
        if (moves_port(asked))
            return {serial_outcome::not_modelled};
        now_.flags =
            static_cast<int>((old_flags & ~CHANGEABLE_FLAGS) | (new_flags & CHANGEABLE_FLAGS));
        now_.baud_base = asked.baud_base;
        now_.close_delay = asked.close_delay;
        now_.closing_wait = asked.closing_wait;
        if (asked.xmit_fifo_size != 0)
            now_.xmit_fifo_size = asked.xmit_fifo_size;
    }
    now_.custom_divisor = asked.custom_divisor;
    const bool aliases = ((old_flags ^ static_cast<unsigned>(now_.flags)) & ASYNC_SPD_MASK) != 0;
    return {serial_outcome::done, 0, aliases || old_divisor != now_.custom_divisor};
}

long serial_port::wire_speed(long baud) const
{
    if (baud <= 0)
        return baud;
    long speed = baud;
    if (baud == 38400) {
        switch (static_cast<unsigned>(now_.flags) & ASYNC_SPD_MASK) {
        case ASYNC_SPD_HI:
            speed = 57600;
            break;
        case ASYNC_SPD_VHI:
            speed = 115200;
            break;
        case ASYNC_SPD_SHI:
            speed = 230400;
            break;
        case ASYNC_SPD_WARP:
            speed = 460800;
            break;
        case ASYNC_SPD_CUST:
            // The divisor goes to the UART as it is, whatever the base.
            if (now_.custom_divisor > 0)
                return (UART_BASE + now_.custom_divisor / 2) / now_.custom_divisor;
            break;
        default:
            break;
        }
    }
    return static_cast<long>(static_cast<long long>(speed) * UART_BASE / now_.baud_base);
}

nanos serial_port::closing_wait() const
{
    if (now_.closing_wait == ASYNC_CLOSING_WAIT_NONE)
        return 0;
    if (now_.closing_wait == ASYNC_CLOSING_WAIT_INF)
        return NEVER;
    return static_cast<nanos>(now_.closing_wait) * NS_PER_HUNDREDTH;
}
