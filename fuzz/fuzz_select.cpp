// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// select's descriptor sets and the time limits of select, pselect6 and
// ppoll, in every ABI of the family and either byte order: byte 0 picks the
// ABI, byte 1 the order and the form (timespec or timeval), bytes 2-5 a set's
// size and a descriptor in it; the rest is the time value. A descriptor's bit
// lies in its set, and a time limit read, written back and read again is
// the same, where its seconds fit the ABI's word (a timeval's microseconds
// may carry a 32-bit ABI's seconds past it: the kernel too writes back
// only the low word).
#include "abi.h"
#include "check.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 6)
        return 0;
    const family_abi &f = FAMILY_ABIS[data[0] % FAMILY_ABIS.size()];
    const call_abi abi{watched_call::pselect6, f.pointer_bytes, f.long_bytes, f.time_bytes,
                       (data[1] & 1) != 0 ? byte_order::big : byte_order::little};
    const auto form = (data[1] & 2) != 0 ? interval_form::timeval : interval_form::timespec;
    const std::size_t n = data[2] | std::size_t{data[3]} << 8;
    const int fd = data[4] | data[5] << 8;
    const std::size_t set = fd_set_bytes(n, abi.long_bytes);
    FUZZ_CHECK(set % abi.long_bytes == 0 && set * 8 >= n);
    if (static_cast<std::size_t>(fd) < n) {
        const fd_bit bit = fd_set_bit(fd, abi.long_bytes, abi.order);
        FUZZ_CHECK(bit.byte < set && bit.mask != 0);
    }
    const auto limit = read_interval({data + 6, size - 6}, form, abi);
    if (!limit)
        return 0;
    FUZZ_CHECK(*limit >= 0);
    const long long most_seconds =
        abi.time_bytes >= 8 ? NEVER : (1LL << (8 * abi.time_bytes - 1)) - 1;
    if (*limit / NS_PER_S > most_seconds)
        return 0;
    unsigned char back[16] = {};
    FUZZ_CHECK(write_interval(back, *limit, form, abi) == std::size_t{2} * abi.time_bytes);
    const auto again = read_interval(back, form, abi);
    FUZZ_CHECK(again && *again == *limit);
    return 0;
}
