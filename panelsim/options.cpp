// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>

namespace
{

constexpr std::size_t LEAST_BUFFER = 16;
constexpr std::size_t MOST_BUFFER = 16U << 20;

bool buffer_size(const char *text, std::size_t &size)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long n = strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < LEAST_BUFFER || n > MOST_BUFFER)
        return false;
    size = static_cast<std::size_t>(n);
    return true;
}

// The options that go together: -1, or 2 with why said.
int consistent(const options &o, bool link_given, bool buffer_given)
{
    if (o.at_ttys1 && (o.command[0] == nullptr || link_given)) {
        fprintf(stderr, "panelsim: --dev-ttyS1 needs a COMMAND and no --link\n");
        return 2;
    }
    // A real port is its own line: nothing runs on it, nothing is modelled.
    if (!o.listen.empty() &&
        (o.command[0] != nullptr || link_given || o.at_ttys1 || o.at_arrival || buffer_given)) {
        fprintf(stderr, "panelsim: --listen takes no COMMAND, --link, --dev-ttyS1, "
                        "--at-arrival or --buffer\n");
        return 2;
    }
    return -1;
}

} // namespace

void usage(std::FILE *to)
{
    fprintf(to,
            "usage: panelsim [-l PATH | -d] [-a] [-b BYTES] [-j] [-v FILE] [-- COMMAND [ARGS...]]\n"
            "       panelsim -L DEVICE [-j] [-v FILE]\n"
            "  -l, --link PATH     put the line at PATH (default %s)\n"
            "  -d, --dev-ttyS1     put the line at /dev/ttyS1 for COMMAND, in a private\n"
            "                      mount namespace (root, or unprivileged user namespaces)\n"
            "  -a, --at-arrival    judge each byte by the settings in force when it arrived,\n"
            "                      for an emulated UART with no transmit time of its own\n"
            "  -b, --buffer BYTES  the UART's transmit buffer (default 4096, the kernel's page;\n"
            "                      65536 for kernels with 64 KiB pages)\n"
            "  -j, --json          reports as JSON Lines\n"
            "  -v, --vcd FILE      also write the line as a logic analyser records it\n"
            "  -L, --listen DEVICE listen on a real serial port wired to the device's line,\n"
            "                      as a controller at 19200 8N1 receives it\n"
            "  -h, --help          show this text\n"
            "Without COMMAND, and with --listen, the panel runs until interrupted.\n",
            PANELSIM_LINK);
}

int parse(int argc, char *argv[], options &o)
{
    const option longopts[] = {{"link", required_argument, nullptr, 'l'},
                               {"dev-ttyS1", no_argument, nullptr, 'd'},
                               {"at-arrival", no_argument, nullptr, 'a'},
                               {"buffer", required_argument, nullptr, 'b'},
                               {"json", no_argument, nullptr, 'j'},
                               {"vcd", required_argument, nullptr, 'v'},
                               {"help", no_argument, nullptr, 'h'},
                               {"listen", required_argument, nullptr, 'L'},
                               {nullptr, 0, nullptr, 0}};
    bool link_given = false;
    bool buffer_given = false;
    for (int c; (c = getopt_long(argc, argv, "+l:dab:jv:hL:", longopts, nullptr)) != -1;) {
        switch (c) {
        case 'l':
            o.link = optarg;
            link_given = true;
            break;
        case 'd':
            o.at_ttys1 = true;
            break;
        case 'a':
            o.at_arrival = true;
            break;
        case 'b':
            buffer_given = true;
            if (!buffer_size(optarg, o.buffer)) {
                fprintf(stderr, "panelsim: --buffer takes a size from %zu to %zu bytes\n",
                        LEAST_BUFFER, MOST_BUFFER);
                return 2;
            }
            break;
        case 'j':
            o.json = true;
            break;
        case 'v':
            o.vcd = optarg;
            break;
        case 'L':
            o.listen = optarg;
            break;
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    o.command = argv + optind;
    return consistent(o, link_given, buffer_given);
}
