// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panel45: send the fixed command frame 45 01 01 01 01 01 00 00 to the VFD
// controller, at once. Takes no arguments.
#include "panel_link.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    // Standard output gets a buffer of ours: stdio would otherwise set up the
    // heap for one at the first output, a cost paid on every start.
    static char outbuf[1024];
    setvbuf(stdout, outbuf, _IOLBF, sizeof outbuf);

    if (argc > 1) {
        const char *name = argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "panel45";
        printf("usage : %s n", name);
        return 1;
    }
    const int fd = panel_open();

    panel_frame frame{};
    frame[0] = 0x45;
    for (std::size_t i = 1; i <= 5; i++)
        frame[i] = 0x01;

    puts("vfd_0x45 command");
    (void)fflush(stdout);
    panel_send(fd, frame);
    return panel_close(fd);
}
