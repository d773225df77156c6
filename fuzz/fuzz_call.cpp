// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The whole call decoder, on a seccomp notification made from the input and
// pointing into this process, which the watch reads as it reads a program:
// process_vm_readv and /proc. A real pseudo-terminal stands for the line.
//
// Byte 0 picks the ABI, byte 1 the call (of every call the filter hands
// over: 0 is ioctl), bytes 2-3 say what each of the six arguments is (two bits each: the
// number as given, an address in the memory, the line's descriptor, a
// terminal request), byte 4 the port's state (bit 0 unused); then six arguments of 8
// bytes; the rest is the memory the call points into.
#include "check.h"
#include "tty_abi.h"
#include "watch.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

int line_fd = -1;
dev_t line_dev = 0;

constexpr std::size_t HEADER = 5 + 6 * 8;

std::uint64_t argument(unsigned kind, std::uint64_t given, const std::vector<std::uint8_t> &memory)
{
    switch (kind) {
    case 1:
        return reinterpret_cast<std::uintptr_t>(memory.data()) + given % (memory.size() + 1);
    case 2:
        return static_cast<std::uint64_t>(line_fd);
    case 3:
        return TTY_REQUESTS[given % TTY_REQUESTS.size()].number;
    default:
        return given;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    struct stat st {
    };
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        (line_fd = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK)) < 0 ||
        fstat(line_fd, &st) != 0) {
        perror("fuzz_call: the pseudo-terminal");
        exit(1);
    }
    line_dev = st.st_rdev;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < HEADER || FAMILY_ABIS.empty())
        return 0;
    const family_abi &f = FAMILY_ABIS[data[0] % FAMILY_ABIS.size()];
    const std::uint32_t arch = f.arch == SCMP_ARCH_NATIVE ? seccomp_arch_native() : f.arch;
    const std::size_t pick = data[1] % (FLOW_CALLS.size() + 1); // 0: ioctl
    const int nr =
        seccomp_syscall_resolve_name_arch(arch, pick == 0 ? "ioctl" : FLOW_CALLS[pick - 1].name);
    if (nr < 0)
        return 0;
    const std::vector<std::uint8_t> memory(data + HEADER, data + size);
    seccomp_notif req{};
    req.id = 1;
    req.pid = static_cast<std::uint32_t>(getpid());
    req.data.arch = arch;
    req.data.nr = nr;
    const unsigned kinds = data[2] | unsigned{data[3]} << 8U;
    for (unsigned i = 0; i < 6; ++i) {
        std::uint64_t given = 0;
        memcpy(&given, data + 5 + std::size_t{8} * i, 8);
        req.data.args[i] = argument(kinds >> (2 * i) & 3, given, memory);
    }
    port_view port;
    port.takes_output = (data[4] & 2) != 0;
    port.now = (data[4] >> 2) * NS_PER_MS;
    line_watch watch(line_dev);
    const call_kind what = watch.decode(req, port);
    if (const auto *set = std::get_if<calls::set_settings>(&what); set && set->settings.known)
        FUZZ_CHECK(sane(set->settings));
    if (const auto *w = std::get_if<calls::write_bytes>(&what))
        FUZZ_CHECK(!w->data.empty());
    return 0;
}
