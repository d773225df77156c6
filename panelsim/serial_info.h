// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// serial_info: the 8250 driver's setup of the port at ttyS1, a 16550A at
// I/O port 0x2f8 and IRQ 3, as TIOCGSERIAL reports it and TIOCSSERIAL
// changes it.
//
// Principles:
//  - A change is taken as the serial core's uart_set_info takes it. A caller
//    without CAP_SYS_ADMIN may change the user flags (the spd_* aliases of
//    38400, low latency) and the custom divisor, and nothing else: any other
//    difference is EPERM. A privileged one may also change the other flags
//    the core lets it (without effect here), the close delay, the closing
//    wait, the baud base and the FIFO size; a base below 9600 is EINVAL.
//    What would move the port (type, I/O port, memory base, register shift,
//    I/O type, IRQ) is beyond the panel: such a request is left to the
//    pseudo-terminal, which refuses it. The line number is ignored, as the
//    core ignores it.
//  - The speed the UART sends at is what the driver programs: at 38400 the
//    spd_hi, spd_vhi, spd_shi and spd_warp aliases give 57600, 115200,
//    230400 and 460800, spd_cust the UART's clock over the custom divisor;
//    a baud base other than the UART's 115200 scales every speed, as the
//    divisors are reckoned from the wrong clock. A change of the aliases or
//    the divisor reprograms the speed at once; one of the base waits for
//    the next change of settings, as in the driver.
//
// serial_port::report        what TIOCGSERIAL reports
// serial_port::change        TIOCSSERIAL: done, refused, or beyond the panel
// serial_port::wire_speed    the speed the UART sends at for a speed asked
// serial_port::closing_wait  how long a last close waits for the output
#ifndef SERIAL_INFO_H
#define SERIAL_INFO_H

#include "clock.h"
#include "serial_abi.h"

// What became of a TIOCSSERIAL.
struct serial_outcome {
    enum kind_t { done, refused, not_modelled };
    kind_t kind = done;
    int err = 0;                // refused: EPERM or EINVAL
    bool speed_changed = false; // done: the speed the UART sends at must be reprogrammed
};

class serial_port
{
  public:
    serial_port();

    [[nodiscard]] const serial_record &report() const { return now_; }
    // privileged: the caller holds CAP_SYS_ADMIN in the initial user namespace.
    [[nodiscard]] serial_outcome change(const serial_record &asked, bool privileged);
    // baud: the speed the settings ask for, in bits per second (0: B0).
    [[nodiscard]] long wire_speed(long baud) const;
    // NEVER: it waits for ever; 0: it does not wait.
    [[nodiscard]] nanos closing_wait() const;

  private:
    [[nodiscard]] bool moves_port(const serial_record &asked) const;

    serial_record now_;
};

#endif
