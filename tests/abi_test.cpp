// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The decoders of what a watched call points to, on records built here as
// bytes, in both byte orders and every word size an ABI gives: no seccomp,
// no child process. The bytes are laid out by the host's own stores
// (reversed for the other order), not by the decoders under test.
#include "abi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/syscall.h>
#include <vector>

namespace
{

using bytes = std::vector<unsigned char>;

// value as a word of width bytes (4 or 8) in order.
bytes word_bytes(long long value, unsigned width, byte_order order)
{
    bytes b(width);
    if (width == 4) {
        const auto v = static_cast<std::uint32_t>(value);
        memcpy(b.data(), &v, sizeof v);
    } else {
        const auto v = static_cast<std::uint64_t>(value);
        memcpy(b.data(), &v, sizeof v);
    }
    if (order != HOST_ORDER)
        std::reverse(b.begin(), b.end());
    return b;
}

// A record of words, each width bytes, in order.
bytes record(std::initializer_list<long long> words, unsigned width, byte_order order)
{
    bytes b;
    for (const long long w : words) {
        const bytes one = word_bytes(w, width, order);
        b.insert(b.end(), one.begin(), one.end());
    }
    return b;
}

const char *order_name(byte_order o)
{
    return o == byte_order::little ? "le" : "be";
}

// A memory layout: the sizes an ABI gives pointers, select's words and time
// fields, in one byte order.
struct layout {
    std::string name;
    call_abi abi;
};

// Every layout of the family's ABIs, and those of the other families' (x32's
// 32-bit pointers with 64-bit words and times, a 32-bit ABI's 64-bit time
// calls), each in both orders.
std::vector<layout> layouts()
{
    struct sizes {
        unsigned pointer, word, time;
    };
    std::vector<sizes> all = {{8, 8, 8}, {4, 8, 8}, {4, 4, 4}, {4, 4, 8}};
    for (const family_abi &a : FAMILY_ABIS) {
        const sizes s{a.pointer_bytes, a.long_bytes, a.time_bytes};
        if (std::none_of(all.begin(), all.end(), [&](const sizes &o) {
                return o.pointer == s.pointer && o.word == s.word && o.time == s.time;
            }))
            all.push_back(s);
    }
    std::vector<layout> out;
    for (const byte_order order : {byte_order::little, byte_order::big})
        for (const sizes &s : all) {
            call_abi abi;
            abi.pointer_bytes = s.pointer;
            abi.long_bytes = s.word;
            abi.time_bytes = s.time;
            abi.order = order;
            out.push_back({std::string(order_name(order)) + "_p" + std::to_string(s.pointer) +
                               "_l" + std::to_string(s.word) + "_t" + std::to_string(s.time),
                           abi});
        }
    return out;
}

// Words: zero- and sign-extended, written back the same.

struct word_case {
    const char *name;
    unsigned width;
    byte_order order;
    bytes raw;
    std::uint64_t value;
    long long signed_value;
};

class Word : public testing::TestWithParam<word_case>
{
};

TEST_P(Word, ReadsAndWritesTheBytesInItsOrder)
{
    const auto &c = GetParam();
    EXPECT_EQ(abi_word(c.raw.data(), c.width, c.order), c.value);
    EXPECT_EQ(abi_signed(c.raw.data(), c.width, c.order), c.signed_value);
    bytes written(c.width, 0xaa);
    put_abi_word(written.data(), c.width, c.signed_value, c.order);
    EXPECT_EQ(written, c.raw);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, Word,
    testing::Values(
        word_case{"le4", 4, byte_order::little, {1, 2, 3, 4}, 0x04030201, 0x04030201},
        word_case{"be4", 4, byte_order::big, {1, 2, 3, 4}, 0x01020304, 0x01020304},
        word_case{"le4_negative", 4, byte_order::little, {0xfe, 0xff, 0xff, 0xff}, 0xfffffffe, -2},
        word_case{"be4_negative", 4, byte_order::big, {0xff, 0xff, 0xff, 0xfe}, 0xfffffffe, -2},
        word_case{"le8",
                  8,
                  byte_order::little,
                  {1, 2, 3, 4, 5, 6, 7, 0x80},
                  0x8007060504030201,
                  static_cast<long long>(0x8007060504030201)},
        word_case{"be8",
                  8,
                  byte_order::big,
                  {1, 2, 3, 4, 5, 6, 7, 0x80},
                  0x0102030405060780,
                  0x0102030405060780},
        word_case{"le8_upper_half_of_4",
                  8,
                  byte_order::little,
                  {0, 0, 0, 0x80, 0, 0, 0, 0},
                  0x80000000,
                  0x80000000}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

class Layout : public testing::TestWithParam<layout>
{
};

// writev's iovec arrays: what the kernel takes, and what it refuses.

TEST_P(Layout, IoVectorsTakeEveryBufferUpToTheMost)
{
    const call_abi &abi = GetParam().abi;
    const bytes iov = record({0x1000, 5, 0x2000, 7}, abi.pointer_bytes, abi.order);
    const auto all = io_vectors(iov, abi, 100);
    ASSERT_EQ(all.size(), 2U);
    EXPECT_EQ(all[0].addr, 0x1000U);
    EXPECT_EQ(all[0].size, 5U);
    EXPECT_EQ(all[1].addr, 0x2000U);
    EXPECT_EQ(all[1].size, 7U);
    // The total is cut to the most, in the second buffer.
    const auto cut = io_vectors(iov, abi, 8);
    ASSERT_EQ(cut.size(), 2U);
    EXPECT_EQ(cut[0].size, 5U);
    EXPECT_EQ(cut[1].size, 3U);
    // A length of 2^31 is below 0 only where lengths are 32 bits wide.
    const bytes big = record({0x1000, 0x80000000LL}, abi.pointer_bytes, abi.order);
    const auto wide = io_vectors(big, abi, 16);
    if (abi.pointer_bytes == 4) {
        EXPECT_TRUE(wide.empty());
    } else {
        ASSERT_EQ(wide.size(), 1U);
        EXPECT_EQ(wide[0].size, 16U);
    }
}

struct refused_iov {
    const char *name;
    long long base;
    long long length;
};

TEST_P(Layout, IoVectorsAreRefusedWhole)
{
    const call_abi &abi = GetParam().abi;
    const bool narrow = abi.pointer_bytes == 4;
    // Past the end of a 32-bit address space, or into the kernel's half of a 64-bit one.
    const std::uint64_t top = narrow ? 1ULL << 32 : 1ULL << 63;
    const auto below_top = static_cast<long long>(top - 0x10);
    const refused_iov cases[] = {
        {"negative length", 0x3000, -1},
        {"buffer past the user range", below_top, 0x20},
        {"buffer past the end of memory", narrow ? 0xffffffffLL : -0x10, narrow ? 2 : 8},
    };
    for (const refused_iov &c : cases) {
        // Refused even where the buffer lies past what the total was cut to.
        const bytes iov = record({0x1000, 10, c.base, c.length}, abi.pointer_bytes, abi.order);
        EXPECT_TRUE(io_vectors(iov, abi, 5).empty()) << c.name;
    }
    // A buffer that ends at the top of the user range is taken.
    const bytes last = record({below_top, 0x10}, abi.pointer_bytes, abi.order);
    EXPECT_EQ(io_vectors(last, abi, 100).size(), 1U);
    EXPECT_TRUE(user_range(top - 0x10, 0x10, abi));
    EXPECT_FALSE(user_range(top - 0x10, 0x11, abi));
}

// select's descriptor sets: the kernel's layout is an array of words, the
// word fd/(8*word) holding bit fd%(8*word), each word in the ABI's order.
TEST_P(Layout, SelectSetsHoldEachDescriptorWhereTheKernelDoes)
{
    const call_abi &abi = GetParam().abi;
    const unsigned w = abi.long_bytes;
    const unsigned bits = 8 * w;
    for (const int fd : {0, 1, 7, 8, 15, 31, 32, 33, 63, 64, 100, 1023}) {
        // The kernel's set, as words, in the ABI's bytes.
        const std::size_t words = static_cast<std::size_t>(fd) / bits + 1;
        bytes set;
        for (std::size_t i = 0; i < words; i++) {
            const unsigned long long v =
                i == words - 1 ? 1ULL << (static_cast<unsigned>(fd) % bits) : 0;
            const bytes one = word_bytes(static_cast<long long>(v), w, abi.order);
            set.insert(set.end(), one.begin(), one.end());
        }
        const fd_bit b = fd_set_bit(fd, w, abi.order);
        ASSERT_LT(b.byte, set.size()) << "fd " << fd;
        EXPECT_EQ(b.mask, set[b.byte]) << "fd " << fd;
        EXPECT_EQ(std::count_if(set.begin(), set.end(), [](unsigned char c) { return c != 0; }), 1);
        EXPECT_EQ(fd_set_bytes(static_cast<std::size_t>(fd) + 1, w), set.size()) << "fd " << fd;
    }
}

TEST(SelectSet, TakesWholeWords)
{
    EXPECT_EQ(fd_set_bytes(0, 4), 0U);
    EXPECT_EQ(fd_set_bytes(1, 4), 4U);
    EXPECT_EQ(fd_set_bytes(32, 4), 4U);
    EXPECT_EQ(fd_set_bytes(33, 4), 8U);
    EXPECT_EQ(fd_set_bytes(33, 8), 8U);
    EXPECT_EQ(fd_set_bytes(65, 8), 16U);
}

// Time limits: ppoll's and pselect6's timespec, select's timeval.

struct interval_case {
    const char *name;
    interval_form form;
    long long sec;
    long long part;
    std::optional<nanos> want; // none: refused (EINVAL)
};

constexpr interval_form SPEC = interval_form::timespec;
constexpr interval_form VAL = interval_form::timeval;

const interval_case INTERVALS[] = {
    {"timespec", SPEC, 1, 500000000, 1500000000},
    {"timespec_zero", SPEC, 0, 0, 0},
    {"timespec_last_nanosecond", SPEC, 0, 999999999, 999999999},
    {"timespec_a_second_of_nanoseconds", SPEC, 0, 1000000000, std::nullopt},
    {"timespec_negative_seconds", SPEC, -1, 0, std::nullopt},
    {"timespec_negative_nanoseconds", SPEC, 0, -1, std::nullopt},
    {"timeval", VAL, 1, 500000, 1500000000},
    // Microseconds that run over a second are carried into the seconds.
    {"timeval_carried", VAL, 0, 2500000, 2500000000},
    {"timeval_carried_back", VAL, 2, -1000000, 1000000000},
    {"timeval_negative_microseconds", VAL, 1, -1, std::nullopt},
    {"timeval_negative_seconds", VAL, -1, 0, std::nullopt},
};

TEST_P(Layout, IntervalsAreReadAsTheKernelReadsThem)
{
    const call_abi &abi = GetParam().abi;
    for (const interval_case &c : INTERVALS) {
        const bytes r = record({c.sec, c.part}, abi.time_bytes, abi.order);
        EXPECT_EQ(read_interval(r, c.form, abi), c.want) << c.name;
    }
    // A record cut short is no interval.
    const bytes r = record({1, 0}, abi.time_bytes, abi.order);
    EXPECT_EQ(read_interval(std::span(r).first(r.size() - 1), SPEC, abi), std::nullopt);
    // Seconds beyond what nanoseconds hold are as good as never.
    if (abi.time_bytes == 8) {
        const bytes far = record({1LL << 62, 0}, 8, abi.order);
        EXPECT_EQ(read_interval(far, SPEC, abi), NEVER);
        // Microseconds carried into seconds near the top wrap below 0, as
        // in the kernel: refused.
        const bytes wraps = record({LLONG_MAX, 1000000}, 8, abi.order);
        EXPECT_EQ(read_interval(wraps, VAL, abi), std::nullopt);
    }
}

TEST_P(Layout, TheTimeLeftIsWrittenInTheLimitsForm)
{
    const call_abi &abi = GetParam().abi;
    const nanos left = 3 * NS_PER_S + 250001234;
    const unsigned w = abi.time_bytes;
    const std::size_t size = std::size_t{2} * w;
    bytes spec(size + 3, 0xaa);
    EXPECT_EQ(write_interval(spec, left, SPEC, abi), size);
    EXPECT_EQ(bytes(spec.begin(), spec.begin() + static_cast<long>(size)),
              record({3, 250001234}, w, abi.order));
    EXPECT_EQ(spec[size], 0xaa) << "written past the record";
    EXPECT_EQ(read_interval(spec, SPEC, abi), left);
    bytes val(size);
    EXPECT_EQ(write_interval(val, left, VAL, abi), size);
    EXPECT_EQ(val, record({3, 250001}, w, abi.order));
    EXPECT_EQ(read_interval(val, VAL, abi), 3 * NS_PER_S + 250001000);
}

INSTANTIATE_TEST_SUITE_P(Abis, Layout, testing::ValuesIn(layouts()),
                         [](const auto &param_info) { return param_info.param.name; });

// The calls of the family's ABIs, by number: each with its ABI's sizes.

TEST(Classify, KnowsTheNativeCallsWithTheirSizes)
{
    if (FAMILY_ABIS.empty()) {
        // Built without libseccomp: no ABI is watched, no call known.
        EXPECT_FALSE(known_abi(0));
        EXPECT_EQ(classify(0, SYS_write), std::nullopt);
        return;
    }
    const family_abi &native = FAMILY_ABIS.front();
    EXPECT_TRUE(known_abi(native.arch));
    EXPECT_FALSE(known_abi(0x1234abcd));
    const auto writev = classify(native.arch, SYS_writev);
    ASSERT_TRUE(writev.has_value());
    EXPECT_EQ(writev->call, watched_call::writev);
    EXPECT_EQ(writev->pointer_bytes, native.pointer_bytes);
    EXPECT_EQ(writev->long_bytes, native.long_bytes);
    EXPECT_EQ(writev->time_bytes, native.time_bytes);
    EXPECT_EQ(writev->order, HOST_ORDER);
    const auto ioctl = classify(native.arch, SYS_ioctl);
    ASSERT_TRUE(ioctl.has_value());
    EXPECT_EQ(ioctl->call, watched_call::ioctl);
    EXPECT_EQ(classify(native.arch, SYS_getpid), std::nullopt);
    EXPECT_EQ(classify(native.arch, -1), std::nullopt);
}

#if defined(__x86_64__)
// x86_64's other ABIs, by their numbers in the kernel's tables: x32 (its
// numbers carry bit 30) and i386, whose 64-bit time calls take 8-byte times.
struct x86_case {
    const char *name;
    std::uint32_t arch;
    int nr;
    watched_call call;
    unsigned pointer_bytes, long_bytes, time_bytes;
};

constexpr std::uint32_t X86_64 = 0xc000003e; // AUDIT_ARCH_X86_64
constexpr std::uint32_t I386 = 0x40000003;   // AUDIT_ARCH_I386
constexpr int X32 = 0x40000000;

class X86 : public testing::TestWithParam<x86_case>
{
};

TEST_P(X86, CallsOfTheOtherAbisHaveTheirSizes)
{
    const auto &c = GetParam();
    const auto got = classify(c.arch, c.nr);
    if (FAMILY_ABIS.empty()) {
        EXPECT_EQ(got, std::nullopt) << "known without libseccomp";
        return;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->call, c.call);
    EXPECT_EQ(got->pointer_bytes, c.pointer_bytes);
    EXPECT_EQ(got->long_bytes, c.long_bytes);
    EXPECT_EQ(got->time_bytes, c.time_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, X86,
    testing::Values(x86_case{"x86_64_ppoll", X86_64, 271, watched_call::ppoll, 8, 8, 8},
                    x86_case{"x32_writev", X86_64, X32 + 516, watched_call::writev, 4, 8, 8},
                    x86_case{"x32_ppoll", X86_64, X32 + 271, watched_call::ppoll, 4, 8, 8},
                    x86_case{"x32_select", X86_64, X32 + 23, watched_call::select, 4, 8, 8},
                    x86_case{"i386_writev", I386, 146, watched_call::writev, 4, 4, 4},
                    x86_case{"i386_ppoll", I386, 309, watched_call::ppoll, 4, 4, 4},
                    x86_case{"i386_ppoll_time64", I386, 414, watched_call::ppoll, 4, 4, 8},
                    x86_case{"i386_pselect6_time64", I386, 413, watched_call::pselect6, 4, 4, 8},
                    x86_case{"i386_newselect", I386, 142, watched_call::select, 4, 4, 4}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(X86Old, TheOldSelectOfI386IsNotWatched)
{
    // i386's "select" (82) takes its arguments in a record.
    EXPECT_EQ(classify(I386, 82), std::nullopt);
}
#endif

} // namespace
