// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "modem.h"

// The kernel's own header: the C library's lacks OUT1, OUT2 and LOOP.
#include <asm/termios.h>

namespace
{

// What TIOCMSET, TIOCMBIS and TIOCMBIC may change.
constexpr unsigned OUTPUTS = TIOCM_DTR | TIOCM_RTS | TIOCM_OUT1 | TIOCM_OUT2 | TIOCM_LOOP;

// The input bits of the TIOCM_ word a wait may name.
constexpr unsigned INPUTS = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR;

// Whether the 8250 driver turns its modem-status interrupt on for these
// flags: to follow CTS for flow control, or CD for the carrier.
bool watches_status(unsigned cflag)
{
    return (cflag & CRTSCTS) != 0 || (cflag & CLOCAL) == 0;
}

bool hung_up(const line_settings &s)
{
    return (s.cflag & CBAUD) == B0;
}

// The flags of the input side that make the serial core reprogram the UART.
constexpr unsigned INPUT_CHECKS = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK;

} // namespace

void modem_lines::opened(const line_settings &s)
{
    if (!open_) {
        // The driver starts the port up with the settings the line keeps.
        open_ = true;
        watching_ = watches_status(s.cflag);
        drive(mctrl_ | TIOCM_OUT2);
    }
    if (!hung_up(s))
        drive(mctrl_ | TIOCM_DTR | TIOCM_RTS);
}

void modem_lines::closed(const line_settings &s)
{
    if (!open_)
        return;
    if ((s.cflag & HUPCL) != 0)
        drive(mctrl_ & ~unsigned{TIOCM_DTR | TIOCM_RTS});
    // The driver turns its interrupts off before it drops OUT2.
    watching_ = false;
    drive(mctrl_ & ~unsigned{TIOCM_OUT2});
    open_ = false;
}

// As the serial core's set_termios: nothing happens unless what the UART is
// programmed with changes.
void modem_lines::settings_changed(const line_settings &from, const line_settings &to)
{
    if (from.cflag == to.cflag && from.baud == to.baud && from.in_baud == to.in_baud &&
        ((from.iflag ^ to.iflag) & INPUT_CHECKS) == 0)
        return;
    watching_ = watches_status(to.cflag);
    if (!hung_up(from) && hung_up(to))
        drive(mctrl_ & ~unsigned{TIOCM_DTR | TIOCM_RTS});
    else if (hung_up(from) && !hung_up(to))
        // RTS stays down only while flow control holds back input, which
        // never happens here: the controller sends nothing.
        drive(mctrl_ | TIOCM_DTR | TIOCM_RTS);
}

void modem_lines::change(unsigned set, unsigned clear)
{
    drive((mctrl_ & ~(clear & OUTPUTS)) | (set & OUTPUTS));
}

unsigned modem_lines::state() const
{
    return mctrl_ | inputs();
}

unsigned modem_lines::inputs() const
{
    if ((mctrl_ & TIOCM_LOOP) == 0)
        return 0;
    unsigned in = 0;
    in |= (mctrl_ & TIOCM_RTS) != 0 ? TIOCM_CTS : 0U;
    in |= (mctrl_ & TIOCM_DTR) != 0 ? TIOCM_DSR : 0U;
    in |= (mctrl_ & TIOCM_OUT1) != 0 ? TIOCM_RNG : 0U;
    in |= (mctrl_ & TIOCM_OUT2) != 0 ? TIOCM_CAR : 0U;
    return in;
}

void modem_lines::drive(unsigned mctrl)
{
    const unsigned before = inputs();
    mctrl_ = mctrl;
    const unsigned delta = (before ^ inputs()) & INPUTS;
    if (!watching_ || delta == 0)
        return;
    counts_.cts += (delta & TIOCM_CTS) != 0 ? 1 : 0;
    counts_.dsr += (delta & TIOCM_DSR) != 0 ? 1 : 0;
    counts_.dcd += (delta & TIOCM_CAR) != 0 ? 1 : 0;
    // The 16550 flags RI's trailing edge alone: the ring ending.
    counts_.rng += (before & TIOCM_RNG) != 0 && (delta & TIOCM_RNG) != 0 ? 1 : 0;
}

bool modem_lines::changed(const line_counts &before, const line_counts &now, unsigned mask)
{
    return ((mask & TIOCM_RNG) != 0 && now.rng != before.rng) ||
           ((mask & TIOCM_DSR) != 0 && now.dsr != before.dsr) ||
           ((mask & TIOCM_CAR) != 0 && now.dcd != before.dcd) ||
           ((mask & TIOCM_CTS) != 0 && now.cts != before.cts);
}
