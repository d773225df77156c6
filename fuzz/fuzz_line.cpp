// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// The wire and the controller (receiver and frame monitor) fed a run of
// writes, changes of settings, flushes, tcflow, breaks and time
// (line_ops.h). Bytes and breaks leave in time order, a break's end before
// the rest of a character shifted into it; every frame report holds 8 bytes
// or is flagged; frame reports, and break reports, never go back in time.
// The receiver takes bytes in the order of their start, a break only as a
// 00 with a framing error; while no break took the line low it takes
// exactly the bytes sent; at the end nothing is left due.
#include "check.h"
#include "line_ops.h"

#include <cstdint>

namespace
{

bool same(const sent_byte &a, const sent_byte &b)
{
    return a.value == b.value && a.start_ns == b.start_ns && a.end_ns == b.end_ns &&
           a.settings.same_to_controller(b.settings) && !b.framing_error && !b.is_break;
}

void check_received(const line_run &run)
{
    std::size_t sent = 0;
    nanos last_start = 0;
    for (const sent_byte &b : run.received) {
        FUZZ_CHECK(b.start_ns >= last_start && b.end_ns > b.start_ns);
        FUZZ_CHECK(!b.is_break || (b.value == 0 && b.framing_error));
        last_start = b.start_ns;
    }
    if (run.went_low_once)
        return;
    for (const line_event &e : run.events) {
        FUZZ_CHECK(e.is_byte && sent < run.received.size() && same(e.byte, run.received[sent]));
        sent++;
    }
    FUZZ_CHECK(sent == run.received.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    line_run run;
    run_line_ops({data, size}, run);
    nanos last = 0;
    for (const line_event &e : run.events) {
        if (e.is_byte) {
            FUZZ_CHECK(e.byte.start_ns >= last && e.byte.end_ns > e.byte.start_ns);
            last = e.byte.start_ns;
            continue;
        }
        // A break ends after it began, and before the rest of a character
        // shifted into it.
        const line_break &b = e.brk;
        FUZZ_CHECK(b.start_ns >= last && b.end_ns >= b.start_ns);
        FUZZ_CHECK(!b.rest || (b.rest->start_ns <= b.end_ns && b.end_ns < b.rest->end_ns));
        last = b.end_ns;
    }
    nanos report_at[2] = {0, 0};
    for (const line_report &r : run.reports) {
        if (r.kind == line_report::frame) {
            FUZZ_CHECK(r.bytes.size() <= FRAME_LEN);
            FUZZ_CHECK(r.bytes.size() == FRAME_LEN || !r.problems.empty());
        } else {
            FUZZ_CHECK(r.duration_ns >= 0);
        }
        FUZZ_CHECK(r.time_ns >= report_at[r.kind]);
        report_at[r.kind] = r.time_ns;
    }
    check_received(run);
    FUZZ_CHECK(run.judge.next_due() == NEVER && run.rx.next_due() == NEVER);
    return 0;
}
