// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "filter.h"

#include "abi.h"
#include "tty_abi.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#ifdef PANELSIM_SECCOMP
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <vector>

#ifndef SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV
#define SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV (1UL << 5)
#endif

namespace
{

using program = std::vector<sock_filter>;

// The numbers one audit arch's calls are handed over by: the calls, those
// handed over only with F_SETFL, and ioctl, whose request must be one the
// panel watches.
struct arch_calls {
    std::uint32_t arch;
    std::vector<std::uint32_t> calls;
    std::vector<std::uint32_t> setfl;
    std::vector<std::uint32_t> ioctl;
};

// The arch a call shows in seccomp_data: x32's calls show x86_64's, with a
// bit of their own in their numbers (which the resolver gives them).
std::uint32_t shown(std::uint32_t token)
{
#ifdef SCMP_ARCH_X32
    if (token == SCMP_ARCH_X32)
        return SCMP_ARCH_X86_64;
#endif
    return token;
}

std::vector<arch_calls> numbers(bool flow)
{
    std::vector<arch_calls> all;
    for (const family_abi &a : FAMILY_ABIS) {
        const std::uint32_t token = a.arch == SCMP_ARCH_NATIVE ? seccomp_arch_native() : a.arch;
        auto at = std::find_if(all.begin(), all.end(),
                               [&](const arch_calls &c) { return c.arch == shown(token); });
        if (at == all.end())
            at = all.insert(all.end(), {shown(token), {}, {}, {}});
        const auto nr = [&](const char *name) {
            return seccomp_syscall_resolve_name_arch(token, name);
        };
        if (const int n = nr("ioctl"); n >= 0)
            at->ioctl.push_back(static_cast<std::uint32_t>(n));
        for (const named_call &c : FLOW_CALLS)
            if (const int n = nr(c.name); n >= 0 && (flow || c.always))
                (c.arg1 < 0 ? at->calls : at->setfl).push_back(static_cast<std::uint32_t>(n));
    }
    return all;
}

constexpr std::uint32_t NOTIFY = SECCOMP_RET_USER_NOTIF;
constexpr std::uint32_t ALLOW = SECCOMP_RET_ALLOW;
// The low word of the second argument, where the byte order puts it.
constexpr std::uint32_t ARG1_LOW =
    offsetof(seccomp_data, args) + 8 + (HOST_ORDER == byte_order::little ? 0 : 4);

sock_filter load(std::uint32_t at)
{
    return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, at);
}

sock_filter ret(std::uint32_t action)
{
    return BPF_STMT(BPF_RET | BPF_K, action);
}

sock_filter equal(std::uint32_t k, std::uint8_t yes, std::uint8_t no)
{
    return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, yes, no);
}

// One arch's calls: every jump is short, whatever the number of calls.
program arch_block(const arch_calls &c)
{
    program p = {load(offsetof(seccomp_data, nr))};
    for (const std::uint32_t nr : c.calls)
        p.insert(p.end(), {equal(nr, 0, 1), ret(NOTIFY)});
    for (const std::uint32_t nr : c.setfl)
        p.insert(p.end(),
                 {equal(nr, 0, 4), load(ARG1_LOW), equal(F_SETFL, 0, 1), ret(NOTIFY), ret(ALLOW)});
    for (std::size_t k = 0; k < c.ioctl.size(); k++)
        p.push_back(equal(c.ioctl[k], static_cast<std::uint8_t>(c.ioctl.size() - k), 0));
    p.insert(p.end(), {ret(ALLOW), load(ARG1_LOW)});
    for (const tty_request &r : TTY_REQUESTS)
        p.insert(p.end(), {equal(r.number, 0, 1), ret(NOTIFY)});
    p.push_back(ret(ALLOW));
    return p;
}

// The filter, assembled here: each arch of the family to its block, any
// other arch's calls handed over whole.
program assemble(bool flow)
{
    const std::vector<arch_calls> archs = numbers(flow);
    std::vector<program> blocks;
    std::transform(archs.begin(), archs.end(), std::back_inserter(blocks), arch_block);
    program p = {load(offsetof(seccomp_data, arch))};
    std::size_t start = 1 + 2 * archs.size() + 1; // where the first block begins
    for (std::size_t i = 0; i < archs.size(); i++) {
        const std::size_t from = p.size() + 2; // the instruction after the jump
        p.push_back(equal(archs[i].arch, 0, 1));
        p.push_back(BPF_STMT(BPF_JMP | BPF_JA, static_cast<std::uint32_t>(start - from)));
        start += blocks[i].size();
    }
    p.push_back(ret(NOTIFY));
    for (const program &b : blocks)
        p.insert(p.end(), b.begin(), b.end());
    return p;
}

} // namespace

int watch_install(bool flow, std::string &why)
{
    program prog = assemble(flow);
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
