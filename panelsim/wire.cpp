// SPDX-License-Identifier: MIT
#include "wire.h"

#include <algorithm>
#include <iterator>

std::vector<sent_byte> wire::arrive(std::span<const std::uint8_t> bytes, long long now_ns)
{
    std::vector<sent_byte> out = advance(now_ns);
    std::transform(bytes.begin(), bytes.end(), std::back_inserter(queue_), [&](std::uint8_t b) {
        return waiting{b, now_ns, settings_};
    });
    return out;
}

std::vector<sent_byte> wire::change(const line_settings &s, long long now_ns)
{
    std::vector<sent_byte> out = advance(now_ns);
    settings_ = s;
    return out;
}

std::vector<sent_byte> wire::discard(long long now_ns, std::size_t &dropped)
{
    std::vector<sent_byte> out = advance(now_ns);
    dropped = queue_.size();
    queue_.clear();
    return out;
}

std::vector<sent_byte> wire::advance(long long now_ns)
{
    std::vector<sent_byte> out;
    while (!queue_.empty()) {
        const waiting &w = queue_.front();
        const long long start = std::max(free_at_, w.arrived_ns);
        // A byte that starts exactly at a change is already on its way.
        if (start > now_ns)
            break;
        line_settings s = at_arrival_ ? w.settings : settings_;
        // Output processing is done when the bytes are written.
        s.oflag = w.settings.oflag;
        free_at_ = start + s.char_ns();
        out.push_back({w.value, start, free_at_, s});
        queue_.pop_front();
    }
    return out;
}

long long wire::idle_at() const
{
    long long at = free_at_;
    for (const waiting &w : queue_)
        at = std::max(at, w.arrived_ns) + (at_arrival_ ? w.settings : settings_).char_ns();
    return at;
}
