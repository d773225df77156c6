// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "filter.h"

#include "abi.h"
#include "tty_abi.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#ifdef PANELSIM_SECCOMP
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <vector>

#ifndef SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV
#define SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV (1UL << 5)
#endif

namespace
{

struct filter_ctx_free {
    void operator()(scmp_filter_ctx ctx) const { seccomp_release(ctx); }
};
using filter_ctx = std::unique_ptr<void, filter_ctx_free>;

// Builds the filter; null with why set when libseccomp refuses it.
filter_ctx build(bool flow, std::string &why)
{
    filter_ctx ctx(seccomp_init(SCMP_ACT_ALLOW));
    int rc = ctx ? seccomp_attr_set(ctx.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_NOTIFY) : -ENOMEM;
    for (const family_abi &a : FAMILY_ABIS)
        if (rc == 0 && a.arch != SCMP_ARCH_NATIVE && a.arch != seccomp_arch_native())
            rc = seccomp_arch_add(ctx.get(), a.arch);
    const int ioctl_nr = seccomp_syscall_resolve_name("ioctl");
    // The request is an unsigned int: only the low 32 bits of the argument count.
    for (const tty_request &r : TTY_REQUESTS) {
        const scmp_arg_cmp request{1, SCMP_CMP_MASKED_EQ, 0xffffffffU, r.number};
        if (rc == 0)
            rc = seccomp_rule_add(ctx.get(), SCMP_ACT_NOTIFY, ioctl_nr, 1, request);
    }
    for (const named_call &c : FLOW_CALLS) {
        const int nr = seccomp_syscall_resolve_name(c.name);
        if (rc != 0 || !(flow || c.always) || nr == __NR_SCMP_ERROR)
            continue;
        const scmp_arg_cmp arg1{1, SCMP_CMP_EQ, static_cast<scmp_datum_t>(c.arg1), 0};
        rc = c.arg1 < 0 ? seccomp_rule_add(ctx.get(), SCMP_ACT_NOTIFY, nr, 0)
                        : seccomp_rule_add(ctx.get(), SCMP_ACT_NOTIFY, nr, 1, arg1);
    }
    if (rc != 0) {
        why = std::string("cannot build the filter: ") + strerror(-rc);
        return nullptr;
    }
    return ctx;
}

// The filter as a BPF program: libseccomp 2.5 cannot load it with the flags
// we need, so it is loaded by hand.
std::vector<sock_filter> program(scmp_filter_ctx ctx, std::string &why)
{
    std::vector<sock_filter> prog;
    const int fd = memfd_create("panelsim-filter", MFD_CLOEXEC);
    if (fd < 0 || seccomp_export_bpf(ctx, fd) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
        why = std::string("cannot export the filter: ") + strerror(errno);
    } else {
        sock_filter insn{};
        while (read(fd, &insn, sizeof insn) == static_cast<ssize_t>(sizeof insn))
            prog.push_back(insn);
    }
    if (fd >= 0)
        close(fd);
    return prog;
}

} // namespace

int watch_install(bool flow, std::string &why)
{
    const filter_ctx ctx = build(flow, why);
    if (!ctx)
        return -1;
    std::vector<sock_filter> prog = program(ctx.get(), why);
    if (prog.empty())
        return -1;
    // Without privilege a filter needs no_new_privs.
    if (geteuid() != 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = strerror(errno);
        return -1;
    }
    const sock_fprog fprog{static_cast<unsigned short>(prog.size()), prog.data()};
    // Once taken, a call's wait ends only with the call or a fatal signal: a
    // write whose bytes the panel has begun to take cannot be restarted and
    // send them twice. Older kernels lack the flag.
    long fd =
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                SECCOMP_FILTER_FLAG_NEW_LISTENER | SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV, &fprog);
    if (fd < 0 && errno == EINVAL)
        fd =
            syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &fprog);
    if (fd < 0) {
        why = strerror(errno);
        return -1;
    }
    return static_cast<int>(fd);
}

#else

int watch_install(bool, std::string &why)
{
    why = "this panelsim was built without libseccomp";
    return -1;
}

#endif
