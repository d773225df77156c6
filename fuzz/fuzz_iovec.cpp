// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// A writev's iovec array in every ABI of the family, in either byte order:
// byte 0 picks the ABI, byte 1 the order, bytes 2-3 the most the call may
// move; the rest is the array. The buffers taken never exceed the most, each
// lies in user memory, and there is at most one per iovec.
#include "abi.h"
#include "check.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    const family_abi &f = FAMILY_ABIS[data[0] % FAMILY_ABIS.size()];
    call_abi abi{watched_call::writev, f.pointer_bytes, f.long_bytes, f.time_bytes,
                 (data[1] & 1) != 0 ? byte_order::big : byte_order::little};
    const std::size_t most = data[2] | std::size_t{data[3]} << 8;
    const std::span<const unsigned char> array(data + 4, size - 4);
    const std::vector<segment> segments = io_vectors(array, abi, most);
    FUZZ_CHECK(segments.size() <= array.size() / (std::size_t{2} * abi.pointer_bytes));
    std::size_t total = 0;
    for (const segment &s : segments) {
        FUZZ_CHECK(user_range(s.addr, s.size, abi));
        total += s.size;
    }
    FUZZ_CHECK(total <= most);
    // A word written and read back is the word, cut to the ABI's width.
    if (array.size() >= 8) {
        const auto word = static_cast<long long>(abi_word(array.data(), 8, abi.order));
        unsigned char back[8] = {};
        put_abi_word(back, abi.pointer_bytes, word, abi.order);
        const std::uint64_t mask =
            abi.pointer_bytes == 8 ? ~0ULL : (1ULL << (8 * abi.pointer_bytes)) - 1;
        FUZZ_CHECK(abi_word(back, abi.pointer_bytes, abi.order) ==
                   (static_cast<std::uint64_t>(word) & mask));
    }
    return 0;
}
