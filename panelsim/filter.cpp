// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "filter.h"

#include "tty_abi.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

std::uint64_t abi_word(const unsigned char *p, unsigned bytes)
{
    if (bytes == 4) {
        std::uint32_t v = 0;
        memcpy(&v, p, 4);
        return v;
    }
    std::uint64_t v = 0;
    memcpy(&v, p, 8);
    return v;
}

long long abi_signed(const unsigned char *p, unsigned bytes)
{
    const std::uint64_t w = abi_word(p, bytes);
    return bytes == 4 ? static_cast<std::int32_t>(w) : static_cast<std::int64_t>(w);
}

void put_abi_word(unsigned char *p, unsigned bytes, long long value)
{
    if (bytes == 4) {
        const auto v = static_cast<std::int32_t>(value);
        memcpy(p, &v, 4);
    } else {
        const auto v = static_cast<std::int64_t>(value);
        memcpy(p, &v, 8);
    }
}

#ifdef PANELSIM_SECCOMP
#include <algorithm>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <map>
#include <memory>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <utility>
#include <vector>

#ifndef SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV
#define SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV (1UL << 5)
#endif

namespace
{

// An ABI of the processor family, and the sizes it gives what calls point to.
struct abi {
    std::uint32_t token;
    unsigned pointer_bytes;
    unsigned long_bytes;
    unsigned time_bytes;
};

// x32 takes x86_64's poll, select and their times, but 32-bit iovecs.
#if defined(__x86_64__) || defined(__i386__)
constexpr abi FAMILY[] = {
    {SCMP_ARCH_X86_64, 8, 8, 8}, {SCMP_ARCH_X32, 4, 8, 8}, {SCMP_ARCH_X86, 4, 4, 4}};
#elif defined(__aarch64__) || defined(__arm__)
constexpr abi FAMILY[] = {{SCMP_ARCH_AARCH64, 8, 8, 8}, {SCMP_ARCH_ARM, 4, 4, 4}};
#elif defined(__mips__) && defined(__MIPSEL__)
constexpr abi FAMILY[] = {
    {SCMP_ARCH_MIPSEL64, 8, 8, 8}, {SCMP_ARCH_MIPSEL64N32, 4, 4, 4}, {SCMP_ARCH_MIPSEL, 4, 4, 4}};
#elif defined(__mips__)
constexpr abi FAMILY[] = {
    {SCMP_ARCH_MIPS64, 8, 8, 8}, {SCMP_ARCH_MIPS64N32, 4, 4, 4}, {SCMP_ARCH_MIPS, 4, 4, 4}};
#elif defined(__powerpc__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr abi FAMILY[] = {{SCMP_ARCH_PPC64LE, 8, 8, 8}};
#elif defined(__powerpc__)
constexpr abi FAMILY[] = {{SCMP_ARCH_PPC64, 8, 8, 8}, {SCMP_ARCH_PPC, 4, 4, 4}};
#else
constexpr abi FAMILY[] = {{SCMP_ARCH_NATIVE, sizeof(void *), sizeof(long), sizeof(long)}};
#endif

struct named_call {
    const char *name;
    watched_call call;
    bool time64; // the 64-bit time form of a 32-bit ABI
};

// The calls that concern the flow of bytes. Each name that an ABI lacks is
// left out for it (arm64 has no open, poll or select of its own).
constexpr named_call FLOW[] = {
    {"write", watched_call::write, false},
    {"writev", watched_call::writev, false},
    {"close", watched_call::close, false},
    {"close_range", watched_call::close_range, false},
    {"dup2", watched_call::dup2, false},
    {"dup3", watched_call::dup3, false},
    {"exit_group", watched_call::exit_group, false},
    {"execve", watched_call::execve, false},
    {"execveat", watched_call::execveat, false},
    {"open", watched_call::open, false},
    {"openat", watched_call::openat, false},
    {"openat2", watched_call::openat2, false},
    {"creat", watched_call::creat, false},
    {"poll", watched_call::poll, false},
    {"ppoll", watched_call::ppoll, false},
    {"ppoll_time64", watched_call::ppoll, true},
    {"select", watched_call::select, false},
    {"_newselect", watched_call::select, false},
    {"pselect6", watched_call::pselect6, false},
    {"pselect6_time64", watched_call::pselect6, true},
};

using calls_by_number = std::map<std::pair<std::uint32_t, int>, call_abi>;

// Every watched call of every ABI of the family, by the ABI's token and its
// number there.
const calls_by_number &known_calls()
{
    static const calls_by_number calls = [] {
        calls_by_number all;
        for (const abi &a : FAMILY) {
            const std::uint32_t token =
                a.token == SCMP_ARCH_NATIVE ? seccomp_arch_native() : a.token;
            const auto add = [&](const char *name, watched_call call, bool time64) {
                // A 32-bit ABI's "select" is the old one, with its arguments in a record.
                if (call == watched_call::select && a.long_bytes == 4 &&
                    strcmp(name, "select") == 0)
                    return;
                const int nr = seccomp_syscall_resolve_name_arch(token, name);
                if (nr >= 0)
                    all[{token, nr}] = {call, a.pointer_bytes, a.long_bytes,
                                        time64 ? 8U : a.time_bytes};
            };
            add("ioctl", watched_call::ioctl, false);
            for (const named_call &c : FLOW)
                add(c.name, c.call, c.time64);
        }
        return all;
    }();
    return calls;
}

struct filter_ctx_free {
    void operator()(scmp_filter_ctx ctx) const { seccomp_release(ctx); }
};
using filter_ctx = std::unique_ptr<void, filter_ctx_free>;

// Builds the filter; null with why set when libseccomp refuses it.
filter_ctx build(bool flow, std::string &why)
{
    filter_ctx ctx(seccomp_init(SCMP_ACT_ALLOW));
    int rc = ctx ? seccomp_attr_set(ctx.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_NOTIFY) : -ENOMEM;
    for (const abi &a : FAMILY)
        if (rc == 0 && a.token != SCMP_ARCH_NATIVE && a.token != seccomp_arch_native())
            rc = seccomp_arch_add(ctx.get(), a.token);
    const int ioctl_nr = seccomp_syscall_resolve_name("ioctl");
    // The request is an unsigned int: only the low 32 bits of the argument count.
    for (const tty_request &r : TTY_REQUESTS) {
        const scmp_arg_cmp request{1, SCMP_CMP_MASKED_EQ, 0xffffffffU, r.number};
        if (rc == 0)
            rc = seccomp_rule_add(ctx.get(), SCMP_ACT_NOTIFY, ioctl_nr, 1, request);
    }
    if (flow)
        for (const named_call &c : FLOW) {
            const int nr = seccomp_syscall_resolve_name(c.name);
            if (rc == 0 && nr != __NR_SCMP_ERROR)
                rc = seccomp_rule_add(ctx.get(), SCMP_ACT_NOTIFY, nr, 0);
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

bool known_abi(std::uint32_t arch)
{
    return std::any_of(std::begin(FAMILY), std::end(FAMILY), [&](const abi &a) {
        return (a.token == SCMP_ARCH_NATIVE ? seccomp_arch_native() : a.token) == arch;
    });
}

std::optional<call_abi> classify(std::uint32_t arch, int nr)
{
    // x32 shares x86_64's audit arch; its numbers carry a bit of their own.
    std::uint32_t token = arch;
#if defined(__x86_64__) || defined(__i386__)
    constexpr int X32_BIT = 0x40000000;
    if (arch == SCMP_ARCH_X86_64 && (nr & X32_BIT) != 0)
        token = SCMP_ARCH_X32;
#endif
    const auto &calls = known_calls();
    const auto found = calls.find({token, nr});
    if (found == calls.end())
        return std::nullopt;
    return found->second;
}

#else

int watch_install(bool, std::string &why)
{
    why = "this panelsim was built without libseccomp";
    return -1;
}

bool known_abi(std::uint32_t)
{
    return false;
}

std::optional<call_abi> classify(std::uint32_t, int)
{
    return std::nullopt;
}

#endif
