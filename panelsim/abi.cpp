// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "abi.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <iterator>

#ifdef PANELSIM_SECCOMP
#include <map>
#include <seccomp.h>
#include <utility>
#endif

namespace
{

#ifdef PANELSIM_SECCOMP
// x32 takes x86_64's poll, select and their times, but 32-bit iovecs.
#if defined(__x86_64__) || defined(__i386__)
constexpr family_abi FAMILY[] = {
    {SCMP_ARCH_X86_64, 8, 8, 8}, {SCMP_ARCH_X32, 4, 8, 8}, {SCMP_ARCH_X86, 4, 4, 4}};
#elif defined(__aarch64__) || defined(__arm__)
constexpr family_abi FAMILY[] = {{SCMP_ARCH_AARCH64, 8, 8, 8}, {SCMP_ARCH_ARM, 4, 4, 4}};
#elif defined(__mips__) && defined(__MIPSEL__)
constexpr family_abi FAMILY[] = {
    {SCMP_ARCH_MIPSEL64, 8, 8, 8}, {SCMP_ARCH_MIPSEL64N32, 4, 4, 4}, {SCMP_ARCH_MIPSEL, 4, 4, 4}};
#elif defined(__mips__)
constexpr family_abi FAMILY[] = {
    {SCMP_ARCH_MIPS64, 8, 8, 8}, {SCMP_ARCH_MIPS64N32, 4, 4, 4}, {SCMP_ARCH_MIPS, 4, 4, 4}};
#elif defined(__powerpc__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr family_abi FAMILY[] = {{SCMP_ARCH_PPC64LE, 8, 8, 8}};
#elif defined(__powerpc__)
constexpr family_abi FAMILY[] = {{SCMP_ARCH_PPC64, 8, 8, 8}, {SCMP_ARCH_PPC, 4, 4, 4}};
#else
constexpr family_abi FAMILY[] = {{SCMP_ARCH_NATIVE, sizeof(void *), sizeof(long), sizeof(long)}};
#endif
#else
// Without libseccomp no call is resolved, and no ABI is watched.
constexpr std::span<const family_abi> FAMILY;
#endif

// Each name that an ABI lacks is left out for it (arm64 has no open, poll
// or select of its own).
constexpr named_call FLOW[] = {
    {"write", watched_call::write, false},
    {"writev", watched_call::writev, false},
    {"close", watched_call::close, false},
    {"close_range", watched_call::close_range, false},
    {"dup2", watched_call::dup2, false},
    {"dup3", watched_call::dup3, false},
    {"exit_group", watched_call::exit_group, false},
    {"exit", watched_call::exit, false},
    {"fcntl", watched_call::fcntl, false, false, F_SETFL},
    {"fcntl64", watched_call::fcntl, false, false, F_SETFL},
    {"io_uring_setup", watched_call::io_uring_setup, false},
    {"execve", watched_call::execve, false},
    {"execveat", watched_call::execveat, false},
    {"open", watched_call::open, false, true},
    {"openat", watched_call::openat, false, true},
    {"openat2", watched_call::openat2, false, true},
    {"creat", watched_call::creat, false, true},
    {"poll", watched_call::poll, false},
    {"ppoll", watched_call::ppoll, false},
    {"ppoll_time64", watched_call::ppoll, true},
    {"select", watched_call::select, false},
    {"_newselect", watched_call::select, false},
    {"pselect6", watched_call::pselect6, false},
    {"pselect6_time64", watched_call::pselect6, true},
};

#ifdef PANELSIM_SECCOMP
std::uint32_t arch_of(const family_abi &a)
{
    return a.arch == SCMP_ARCH_NATIVE ? seccomp_arch_native() : a.arch;
}

using calls_by_number = std::map<std::pair<std::uint32_t, int>, call_abi>;

// Every watched call of every ABI of the family, by the ABI's arch and its
// number there.
const calls_by_number &known_calls()
{
    static const calls_by_number calls = [] {
        calls_by_number all;
        for (const family_abi &a : FAMILY) {
            const std::uint32_t arch = arch_of(a);
            const auto add = [&](const char *name, watched_call call, bool time64) {
                // A 32-bit ABI's "select" is the old one, with its arguments in a record.
                if (call == watched_call::select && a.long_bytes == 4 &&
                    strcmp(name, "select") == 0)
                    return;
                const int nr = seccomp_syscall_resolve_name_arch(arch, name);
                if (nr >= 0)
                    all[{arch, nr}] = {call, a.pointer_bytes, a.long_bytes,
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
#endif

} // namespace

const std::span<const family_abi> FAMILY_ABIS = FAMILY;
const std::span<const named_call> FLOW_CALLS = FLOW;

#ifdef PANELSIM_SECCOMP
bool known_abi(std::uint32_t arch)
{
    return std::any_of(std::begin(FAMILY), std::end(FAMILY),
                       [&](const family_abi &a) { return arch_of(a) == arch; });
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
bool known_abi(std::uint32_t)
{
    return false;
}

std::optional<call_abi> classify(std::uint32_t, int)
{
    return std::nullopt;
}
#endif

std::uint64_t abi_word(const unsigned char *p, unsigned bytes, byte_order order)
{
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes; i++)
        v |= std::uint64_t{p[order == byte_order::little ? i : bytes - 1 - i]} << (8 * i);
    return v;
}

long long abi_signed(const unsigned char *p, unsigned bytes, byte_order order)
{
    const std::uint64_t w = abi_word(p, bytes, order);
    return bytes == 4 ? static_cast<std::int32_t>(w) : static_cast<std::int64_t>(w);
}

void put_abi_word(unsigned char *p, unsigned bytes, long long value, byte_order order)
{
    const auto v = static_cast<std::uint64_t>(value);
    for (unsigned i = 0; i < bytes; i++)
        p[order == byte_order::little ? i : bytes - 1 - i] =
            static_cast<unsigned char>(v >> (8 * i));
}

// Not past the end of the address space, nor in its upper half, which
// belongs to the kernel on every Linux processor. (Its exact bound lies
// lower; a buffer between the two is found unmapped.)
bool user_range(std::uint64_t addr, std::uint64_t size, const call_abi &abi)
{
    const std::uint64_t top =
        abi.pointer_bytes == 4 ? std::uint64_t{1} << 32 : std::uint64_t{1} << 63;
    return addr <= top && size <= top - addr;
}

std::vector<segment> io_vectors(std::span<const unsigned char> bytes, const call_abi &abi,
                                std::size_t most)
{
    const unsigned w = abi.pointer_bytes;
    std::vector<segment> data;
    std::size_t total = 0;
    const std::size_t step = std::size_t{2} * w;
    for (std::size_t at = 0; at + step <= bytes.size(); at += step) {
        const std::uint64_t base = abi_word(&bytes[at], w, abi.order);
        const std::uint64_t len = abi_word(&bytes[at + w], w, abi.order);
        if (abi_signed(&bytes[at + w], w, abi.order) < 0 || !user_range(base, len, abi))
            return {};
        const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(len, most - total));
        data.push_back({base, taken});
        total += taken;
    }
    return data;
}

std::size_t fd_set_bytes(std::size_t n, unsigned word)
{
    const std::size_t bits = std::size_t{word} * 8;
    return (n + bits - 1) / bits * word;
}

fd_bit fd_set_bit(int fd, unsigned word, byte_order order)
{
    const auto at = static_cast<std::size_t>(fd);
    const std::size_t bits = std::size_t{word} * 8;
    const std::size_t in_word = (at % bits) / 8;
    const std::size_t byte =
        at / bits * word + (order == byte_order::little ? in_word : word - 1 - in_word);
    return {byte, static_cast<unsigned char>(1U << (at % 8))};
}

namespace
{

constexpr nanos NS_PER_TIMEVAL_UNIT = NS_PER_US;
constexpr long long US_PER_S = NS_PER_S / NS_PER_US;

} // namespace

std::optional<nanos> read_interval(std::span<const unsigned char> bytes, interval_form form,
                                   const call_abi &abi)
{
    const unsigned w = abi.time_bytes;
    if (bytes.size() < std::size_t{2} * w)
        return std::nullopt;
    long long sec = abi_signed(bytes.data(), w, abi.order);
    long long part = abi_signed(bytes.data() + w, w, abi.order);
    if (form == interval_form::timeval) {
        // The kernel carries the microseconds into the seconds in 64 bits,
        // wrapping (it is built with -fno-strict-overflow): seconds near the
        // top wrap below 0, and the limit is refused.
        sec = static_cast<long long>(static_cast<unsigned long long>(sec) +
                                     static_cast<unsigned long long>(part / US_PER_S));
        part = part % US_PER_S * NS_PER_TIMEVAL_UNIT;
    }
    if (sec < 0 || part < 0 || part >= NS_PER_S)
        return std::nullopt;
    return sec > NEVER / NS_PER_S - 1 ? NEVER : sec * NS_PER_S + part;
}

std::size_t write_interval(std::span<unsigned char> bytes, nanos left, interval_form form,
                           const call_abi &abi)
{
    const unsigned w = abi.time_bytes;
    const nanos part = left % NS_PER_S;
    put_abi_word(bytes.data(), w, left / NS_PER_S, abi.order);
    put_abi_word(bytes.data() + w, w,
                 form == interval_form::timeval ? part / NS_PER_TIMEVAL_UNIT : part, abi.order);
    return std::size_t{2} * w;
}
