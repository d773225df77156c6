// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// clock: the panel's one word for time.
//
// Principles:
//  - Every time and every interval is a count of nanoseconds, `nanos`.
//    Times of the run count from the panel's start on the monotonic clock,
//    so that a step of the wall clock neither splits a frame nor stretches
//    a wait; the wall clock gives only the printed time of day.
//  - NEVER, the time that never comes, is also the one way to say "no
//    time": no deadline, nothing due, no burst under way.
//
// clock_ns     a clock's time now
// to_timespec  an interval as the kernel's waits take it
#ifndef CLOCK_H
#define CLOCK_H

#include <climits>
#include <ctime>

using nanos = long long;

inline constexpr nanos NS_PER_US = 1000;
inline constexpr nanos NS_PER_MS = 1000 * NS_PER_US;
inline constexpr nanos NS_PER_S = 1000 * NS_PER_MS;
inline constexpr nanos NEVER = LLONG_MAX;

[[nodiscard]] inline nanos clock_ns(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<nanos>(ts.tv_sec) * NS_PER_S + ts.tv_nsec;
}

[[nodiscard]] inline timespec to_timespec(nanos interval)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(interval / NS_PER_S);
    ts.tv_nsec = static_cast<long>(interval % NS_PER_S);
    return ts;
}

#endif
