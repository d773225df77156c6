// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// clock: the panel's times, in nanoseconds.
//
// Intervals are measured on the monotonic clock, so that a step of the wall
// clock neither splits a frame nor stretches a wait; the wall clock gives
// only the printed time of day.
//
// clock_ns  a clock's time now, in nanoseconds
#ifndef CLOCK_H
#define CLOCK_H

#include <ctime>

[[nodiscard]] inline long long clock_ns(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

#endif
