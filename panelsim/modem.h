// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// modem: the UART's modem-control lines, as the serial core and the 8250
// driver keep them for a 16550 at ttyS1.
//
// Principles:
//  - The outputs are the modem control register's: DTR, RTS, OUT1, OUT2
//    and LOOP, as TIOCMSET masks them. The serial core raises DTR and RTS
//    at every open unless the speed is B0, drops them on a change to B0 and
//    raises them on a change away from it, and drops them at the last close
//    when HUPCL is set; the 8250 driver raises OUT2, a PC UART's interrupt
//    enable, when the port starts up and drops it when it shuts down.
//  - The inputs are what a controller wired with TX, RX and ground alone
//    leaves them: CTS, DSR, RI and CD inactive. In loopback the 16550 ties
//    them to its own outputs instead: RTS to CTS, DTR to DSR, OUT1 to RI
//    and OUT2 to CD.
//  - Every change of an input is counted as the 8250 driver counts it
//    (TIOCGICOUNT): CTS, DSR and CD both ways, RI on its trailing edge
//    only, and only while the driver watches the modem status: while RTS/CTS
//    flow control is on or CLOCAL off, and from a TIOCMIWAIT until the next
//    change of settings or the port's shutdown.
//
// modem_lines::opened        an open of the line
// modem_lines::closed        the last close of the line
// modem_lines::is_open       whether the port is open
// modem_lines::settings_changed  a change of settings: B0, and what the driver watches
// modem_lines::change        TIOCMSET, TIOCMBIS, TIOCMBIC
// modem_lines::state         what TIOCMGET reports: the outputs and the inputs
// modem_lines::watch         TIOCMIWAIT begins: the driver watches the inputs from now on
// modem_lines::counts        the changes of the inputs counted so far
// modem_lines::changed       whether an input in a TIOCMIWAIT mask changed between two counts
#ifndef MODEM_H
#define MODEM_H

#include "serial_abi.h"
#include "settings.h"

class modem_lines
{
  public:
    // s: the settings the line has when it is opened.
    void opened(const line_settings &s);
    // s: the settings the line has when its last user closes it.
    void closed(const line_settings &s);
    [[nodiscard]] bool is_open() const { return open_; }
    void settings_changed(const line_settings &from, const line_settings &to);
    void change(unsigned set, unsigned clear);
    [[nodiscard]] unsigned state() const;
    void watch() { watching_ = true; }
    [[nodiscard]] const line_counts &counts() const { return counts_; }
    // mask: the TIOCM_ bits of the inputs waited for.
    [[nodiscard]] static bool changed(const line_counts &before, const line_counts &now,
                                      unsigned mask);

  private:
    [[nodiscard]] unsigned inputs() const;
    // The outputs become mctrl; the inputs that change with them are counted.
    void drive(unsigned mctrl);

    unsigned mctrl_ = 0;
    bool open_ = false;
    bool watching_ = false; // the driver's modem-status interrupt is on
    line_counts counts_;
};

#endif
