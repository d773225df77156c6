// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The receiver's marked stream, read back. Byte 0 says where the stream is
// split between two reads; the rest is the stream. Whatever the split, the
// characters are the same; none comes from nothing; and the characters,
// marked again as the line discipline marks them, read back the same.
#include "check.h"
#include "marks.h"

#include <cstdint>
#include <vector>

namespace
{

std::vector<std::uint8_t> marked(const std::vector<received_char> &chars)
{
    std::vector<std::uint8_t> out;
    for (const received_char &c : chars) {
        if (c.error)
            out.insert(out.end(), {0xff, 0x00});
        else if (c.value == 0xff)
            out.push_back(0xff);
        out.push_back(c.value);
    }
    return out;
}

std::vector<received_char> read_back(std::span<const std::uint8_t> stream, std::size_t split)
{
    mark_decoder d;
    std::vector<received_char> got = d.take(stream.first(split));
    const auto rest = d.take(stream.subspan(split));
    got.insert(got.end(), rest.begin(), rest.end());
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    const std::size_t split = data[0] % (stream.size() + 1);
    const auto whole = read_back(stream, stream.size());
    const auto parts = read_back(stream, split);
    FUZZ_CHECK(whole == parts);
    FUZZ_CHECK(whole.size() <= stream.size());
    for (const received_char &c : whole)
        FUZZ_CHECK(!c.is_break || (c.value == 0 && c.error));
    const auto again = marked(whole);
    FUZZ_CHECK(read_back(again, again.size()) == whole);
    return 0;
}
