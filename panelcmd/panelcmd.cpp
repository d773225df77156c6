// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panelcmd: send one command frame, given in hexadecimal, to the VFD
// controller. Arguments 1 to 8 become frame bytes 0 to 7 (low 8 bits of each);
// more are ignored, fewer leave zeros. The frame is shown, and sent one
// second later.
#include "hexstr2int.h"
#include "panel_link.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const char *name = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "panelcmd";
    panel_frame frame{};

    printf("usage : %s command data...\n", name);
    const int fd = panel_open();

    const int count = std::min(argc - 1, static_cast<int>(PANEL_FRAME_LEN));
    for (int i = 0; i < count; i++)
        frame[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(hexstr2int(argv[i + 1]) & 0xFF);

    printf("command data = ");
    for (const std::uint8_t byte : frame)
        printf("0x%x : ", byte);
    putchar('\n');
    // The frame line must be out before the pause, even into a pipe.
    (void)fflush(stdout);

    sleep(1);
    panel_send(fd, frame);
    return panel_close(fd);
}
